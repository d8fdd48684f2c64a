#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target under tests/fuzz/corpus/.

The seeds are small, valid-looking cases of each input layout (see
tests/support/fuzz_bodies.h); the fuzzer mutates from there. Run it again
after changing a layout: it replaces the generated files and leaves others.
"""
import os
import struct
import sys

ROOT = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(ROOT, "corpus")
REPO = os.path.dirname(os.path.dirname(ROOT))


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---- perf_data: mode, instance byte, 4 x u64, 8 x u16, then the block ----

def perf_block(objects, system_time=(2026, 12, 2, 8, 10, 0, 0, 0)):
    """The layout of tests/support/perf_block_builder.h."""
    out = bytearray(96)
    struct.pack_into("<I", out, 24, 96)
    struct.pack_into("<I", out, 28, len(objects))
    struct.pack_into("<8H", out, 36, *system_time)
    for title, counters, values in objects:
        start = len(out)
        definition = 64 + 40 * len(counters)
        total = definition + len(values) * (32 + 24)
        out += bytes(total)
        struct.pack_into("<IIII", out, start, total, definition, 64, title)
        struct.pack_into("<I", out, start + 32, len(counters))
        struct.pack_into("<I", out, start + 40, len(values))
        for c, index in enumerate(counters):
            d = start + 64 + 40 * c
            struct.pack_into("<II", out, d, 40, index)
            struct.pack_into("<I", out, d + 36, 16 if index == 6 else 8)
        for i, value in enumerate(values):
            inst = start + definition + i * 56
            struct.pack_into("<I", out, inst, 32)
            struct.pack_into("<IIQQ", out, inst + 32, 24, 0, 0xDEAD, value)
    struct.pack_into("<I", out, 20, len(out))
    return bytes(out)


def perf_seed(mode, instances, block, usage=(1000, 1500, 10000, 11000), fields=(2026, 2, 0, 29, 23, 59, 59, 999)):
    return struct.pack("<BB4Q8H", mode, instances, *usage, *fields) + block


def perf_seeds():
    cpu = (238, [2, 6], [100, 200])
    write("perf_data", "two_cpus", perf_seed(0, 0x80, perf_block([cpu])))
    write("perf_data", "grows_then_fails", perf_seed(0x0F, 0x80, perf_block([cpu])))
    write("perf_data", "second_object", perf_seed(0, 0x02, perf_block([(230, [1], [5]), (238, [6], [7, 8, 9])])))
    write("perf_data", "no_counter_6", perf_seed(0, 0x80, perf_block([(238, [2, 3], [1])])))
    write("perf_data", "truncated", perf_seed(0, 0x80, perf_block([cpu])[:-20]))
    big = bytearray(perf_block([cpu]))
    struct.pack_into("<I", big, 96 + 40, 0x7FFFFFFF)  # instance count far past the data
    write("perf_data", "huge_count", perf_seed(0, 0x80, bytes(big), usage=(0, 2**63, 5, 4)))


# ---- device_link: setup, then per exchange: op [chunk] [stop], answers and passes ----

def device_seeds():
    LUMO, Z, VESPERIN, SHORT, ZZ, RAW = 0, 1, 2, 3, 4, 5
    # open; identification answered, then a modem reset acknowledged.
    write("device_link", "identify_then_reset", bytes([1, 0x01, 1, LUMO, 1, 0x00, 1, Z, 1]))
    # the Vesperin model, then a timer start with the answer a few passes late.
    write("device_link", "vesperin_late_ack", bytes([1, 0x01, 1, VESPERIN, 1, 0x02, 1, Z, 0, 0, 0, 2]))
    # garbage before the identification: the first read is discarded.
    write("device_link", "garbage_first", bytes([1, 0x01, 2, RAW, 9]) + b"\x00\xffjunk!\r\n" + bytes([LUMO, 1, 1, 1]))
    # silent board: every attempt's polls run out.
    write("device_link", "silent", bytes([1, 0x01, 0]) + bytes(60))
    # a write that cannot go out, then a closed port, then a stop at the third sleep.
    write("device_link", "blocked_closed_stop", bytes([1, 0x31, 0x41, 0x49, 3, 0, 1, 1, 1]))
    # a stale identification left in the port, a short one, and a reply longer than one read.
    write("device_link", "stale_short_long",
          bytes([9, 0x81, LUMO, 2, SHORT, ZZ, 1, 1, 0x80, RAW, 200]) + b"QOV Lumo " + bytes(191) + bytes([1, 2, 1]))
    write("device_link", "port_closed", bytes([0, 0x01, 0x00, 0x0A]))


# ---- check_address: the whole input is one entry ----

def check_address_seeds():
    entries = {
        "default": "HTTP - www.msftconnecttest.com/connecttest.txt",
        "icmp": "ICMP - 127.0.0.1",
        "https": "HTTP - https://example.org/status",
        "http_inside": "HTTP - proxy/?u=Http://x",
        "bare_host": "www.example.org",
        "short": "HTTP",
        "status": "302",
    }
    for name, text in entries.items():
        write("check_address", name, text)


# ---- command_line: name length, name, then the line ----

def command_line_seeds():
    def seed(name, line):
        return bytes([len(name)]) + name.encode() + line.encode("latin-1")

    write("command_line", "install", seed("INSTALL", "qov_lumo_service.exe -install -silent"))
    write("command_line", "quoted_path", seed("uninstall", '"C:\\Program Files\\QOV\\qov.exe" /UNINSTALL /Silent'))
    write("command_line", "empty_quotes", seed("", 'a "" b "c d"e ""'))
    write("command_line", "separators", seed("x", "\t-x\x01\x1f/X  \"-\"x\x7f\xe9"))
    write("command_line", "config", seed("config", "qov --config /tmp/site.reg -"))


# ---- config_loader: key path, then records (name pick, how, value) ----

def value_names():
    """The loader's value names in the fuzz body's order: the flags, the
    numbers, the unsigned numbers and the texts of src/config/param_fields.def,
    each in the file's order, then check_addr_count and the check addresses."""
    by_type = {"bool": [], "std::int32_t": [], "std::uint32_t": [], "std::string": []}
    with open(os.path.join(REPO, "src", "config", "param_fields.def")) as f:
        for line in f:
            if not line.startswith("QOV_PARAM("):
                continue
            name, kind, _ = [part.strip() for part in line[len("QOV_PARAM("):].split(",", 2)]
            if name != "check_addr_count" and kind in by_type:
                by_type[kind].append(name)
    return sum(by_type.values(), []) + ["check_addr_count"] + ["check_addr_%d" % n for n in range(66)]


NAMES = value_names()


def name_pick(name):
    return NAMES.index(name)


def dword(name, value):
    return bytes([name_pick(name), 0]) + struct.pack("<I", value)


def edge(name, index):
    return bytes([name_pick(name), 1, index])


def text(name, value):
    return bytes([name_pick(name), 2, len(value)]) + value.encode("latin-1")


def long_text(name, half_length, char):
    return bytes([name_pick(name), 0x42]) + struct.pack("<H", half_length) + char.encode()


def other(name):
    return bytes([name_pick(name), 3])


def config_seeds():
    write("config_loader", "typical", bytes([0]) + dword("connection_need_dial", 1) + dword("reset_modem", 1)
          + dword("check_ok_period_s", 0) + dword("wait_time_after_start_s", 0xFFFFFFFF)
          + text("qov_com_port", "COM7") + dword("check_addr_count", 2)
          + text("check_addr_0", "HTTP - 127.0.0.1/") + text("check_addr_1", "ICMP - 127.0.0.1"))
    write("config_loader", "wrong_types", bytes([1]) + text("check_fail_period_s", "60") + dword("log_file_path", 7)
          + other("reset_comp") + other("check_addr_0") + text("check_addr_count", "3"))
    write("config_loader", "long_texts", bytes([2]) + long_text("connection_name", 40000, "a")
          + long_text("program_ctrl_command_line", 32768, '"') + long_text("check_addr_0", 65535, "h"))
    write("config_loader", "edges", bytes([0]) + b"".join(edge(n, i) for i, n in enumerate(NAMES[6:19]))
          + edge("check_addr_count", 6) + edge("check_addr_count", 7))
    write("config_loader", "count_64", bytes([0]) + dword("check_addr_count", 64)
          + b"".join(text("check_addr_%d" % n, "ICMP - h%d" % n) for n in range(0, 66, 5)))
    write("config_loader", "mixed_case_and_missing_key", bytes([3]) + bytes([name_pick("reset_modem"), 0x80, 0xFF])
          + struct.pack("<I", 1) + bytes([0xF3, 5]) + b"other" + bytes([0]) + struct.pack("<I", 9))


# ---- regedit: the whole input is a file's text ----

def regedit_seeds():
    for name in ("qov_lumo_defaults.reg", "dialup_example.reg"):
        with open(os.path.join(REPO, "config", name), "rb") as f:
            write("regedit", name.replace(".reg", ""), f.read())
    key = "[HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo]"
    utf16 = "COM\u00e9".encode("utf-16-le") + b"\0\0"
    write("regedit", "version5_hex", "Windows Registry Editor Version 5.00\r\n\r\n" + key + "\r\n"
          + '"qov_com_port"=hex(2):' + ",".join("%02x" % b for b in utf16) + "\r\n"
          + '"log_file_max_size"=hex(4):00,02,00,00\r\n"reset_comp"=hex:01\r\n')
    write("regedit", "continued_and_deleted", "REGEDIT4\n[HKLM\\Software\\Vopa\\QOV Lumo\\Old]\n"
          "[-HKLM\\Software\\Vopa\\QOV Lumo\\Old]\n" + key + "\n"
          '"check_addr_0"=hex(1):48,54,54,50,20,2d,20,\\\n  68,6f,73,74,00\n'
          '"connection_name"="say \\"hi\\" \\\\ there"\n@="default"\n"reset_modem"=-\n; comment\n'
          '"check_addr_count"=dword:00000001\n')
    write("regedit", "error_line", "REGEDIT4\n" + key + '\n"a"=dword:123456789\n')
    write("regedit", "bom_and_cr", "\xef\xbb\xbfREGEDIT4\r\n" + key + "\r\n\"qov_com_port\"=\"COM3\r\"\r\n")


# ---- log_rotation: size, max, first threshold, then operations ----

def log_rotation_seeds():
    head = struct.pack("<qi", 512 * 1024, 1024)
    # threshold 1 (4 blocks): writes of 200 bytes rotate every few lines.
    write("log_rotation", "rotate_small", head + bytes([0x80 | 1]) + bytes([0, 200] * 8))
    # a failed move waits a minute: writes, a clock step, then writes again.
    write("log_rotation", "failed_move_retry", head + bytes([0x81, 5, 8, 60, 0, 40, 4, 0x60, 0xEA, 0, 40, 0, 40, 5, 0, 40]))
    # zero keeps one line per file; then a new threshold and a close and reopen.
    write("log_rotation", "zero_then_reconfigure", struct.pack("<qi", -1, 0) + bytes([0, 0, 10, 0, 0, 6, 0x82, 7, 0, 9, 7, 8, 255]))
    write("log_rotation", "extremes", struct.pack("<qi", 2**63 - 1, -2**31) + bytes([6, 0, 9, 255, 0, 1]))


def main():
    perf_seeds()
    device_seeds()
    check_address_seeds()
    command_line_seeds()
    config_seeds()
    regedit_seeds()
    log_rotation_seeds()
    return 0


if __name__ == "__main__":
    sys.exit(main())
