"""Parses a qov metrics text with prometheus_client, checks that every family
is there with its type and label values, and prints one line per sample
("name{label="value"} number") for the scenario to compare with the log.
Reads the file named by the argument, or stdin with "-" (a scrape, whose
other metrics are ignored). Exits non-zero with the reason on stderr when
the text is not what the collectors need."""
import sys

from prometheus_client.parser import text_string_to_metric_families

EXPECTED = {
    "qov_up": ("gauge", None),
    "qov_device_running": ("gauge", None),
    "qov_device_last_ack_age_seconds": ("gauge", None),
    "qov_device_last_ack_timestamp_seconds": ("gauge", None),
    "qov_check_last_success": ("gauge", None),
    "qov_check_failed_cycles_in_row": ("gauge", None),
    "qov_check_cycles_total": ("counter", ("result", {"ok", "fail"})),
    "qov_life_messages_total": ("counter", ("result", {"ok", "fail"})),
    "qov_resets_total": ("counter", ("kind", {"modem", "computer"})),
    "qov_resets_suppressed_total": ("counter", None),
    "qov_build_info": ("gauge", ("version", None)),
    "qov_start_time_seconds": ("gauge", None),
    "qov_log_write_failures_total": ("counter", None),
    "qov_state_write_failures_total": ("counter", None),
}


def main():
    text = sys.stdin.read() if sys.argv[1] == "-" else open(sys.argv[1], encoding="utf-8").read()
    seen = {}
    for family in text_string_to_metric_families(text):
        for sample in family.samples:
            if not sample.name.startswith("qov_"):
                continue
            # The parser names a counter's family without its "_total".
            seen.setdefault(sample.name, (family.type, []))[1].append(sample)
    for name, (kind, labels) in EXPECTED.items():
        if name not in seen:
            sys.exit(f"{name}: missing")
        got_kind, samples = seen[name]
        if got_kind != kind:
            sys.exit(f"{name}: type {got_kind}, expected {kind}")
        if labels:
            key, values = labels
            got = sorted(s.labels.get(key, "") for s in samples)
            if values is None:
                # One sample whose label value is free (the version).
                if len(got) != 1 or not got[0]:
                    sys.exit(f"{name}: {key} values {got}")
            elif got != sorted(values):
                sys.exit(f"{name}: {key} values {got}")
        elif len(samples) != 1 or samples[0].labels:
            sys.exit(f"{name}: {len(samples)} samples {[s.labels for s in samples]}")
    for name, (_, samples) in sorted(seen.items()):
        for s in samples:
            labels = ",".join(f'{k}="{v}"' for k, v in sorted(s.labels.items()))
            value = int(s.value) if float(s.value).is_integer() else s.value
            print(f"{name}{{{labels}}} {value}" if labels else f"{name} {value}")


if __name__ == "__main__":
    main()
