#include "metrics/status_record.h"

#include <charconv>
#include <map>

namespace qov::metrics {
namespace {

constexpr const char* kProduct = "QOV Lumo service: ";

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

template <typename T>
void ParseNumber(const std::map<std::string, std::string, std::less<>>& values, std::string_view name, T& out) {
  const auto it = values.find(name);
  if (it == values.end()) return;
  T v{};
  const std::string& text = it->second;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec == std::errc() && end == text.data() + text.size()) out = v;
}

void ParseFlag(const std::map<std::string, std::string, std::less<>>& values, std::string_view name, bool& out) {
  int v = out ? 1 : 0;
  ParseNumber(values, name, v);
  out = v != 0;
}

std::string Cycles(std::int64_t n) { return std::to_string(n) + (n == 1 ? " cycle" : " cycles"); }

// "<time> (N s ago)" or "<time> (in N s)".
std::string TimeAndAge(std::int64_t when, std::int64_t now, const TimeText& time_text) {
  const std::int64_t age = now - when;
  return time_text(when) + (age >= 0 ? " (" + std::to_string(age) + " s ago)" : " (in " + std::to_string(-age) + " s)");
}

std::string ResetsOutlook(const StatusRecord& r) {
  const auto one = [](const char* what, std::int32_t in) {
    return std::string(what) + (in < 0 ? " reset disabled" : " reset in " + Cycles(in));
  };
  if (r.modem_reset_in < 0 && r.computer_reset_in < 0) return "resets disabled";
  // The guard holds back a computer reset while the day's allowance is used up.
  const bool held = r.computer_reset_in >= 0 && r.resets_max_per_day > 0 && r.resets_last_day >= r.resets_max_per_day;
  return one("modem", r.modem_reset_in) + ", " + one("computer", r.computer_reset_in) +
         (held ? " (held back: the daily limit is reached)" : "");
}

}  // namespace

StatusRecord StatusFromSnapshot(const Snapshot& s) {
  StatusRecord r;
  r.running = s.up;
  r.started_s = s.start_time_s;
  r.board_running = s.device_running;
  r.last_ack_s = s.last_ack_unix_ms / 1000;
  r.check_ok = s.check_last_success;
  r.last_check_s = s.last_check_unix_ms / 1000;
  r.failed_in_row = s.check_failed_in_row;
  // Rounded up: a cycle is not shown due before it is.
  r.next_check_s = (s.next_check_unix_ms + 999) / 1000;
  r.modem_reset_in = s.modem_reset_in_cycles;
  r.computer_reset_in = s.computer_reset_in_cycles;
  return r;
}

std::string SerializeStatus(const StatusRecord& r) {
  std::string t;
  const auto line = [&t](const char* name, const std::string& value) { t += std::string(name) + "=" + value + "\n"; };
  line("state", r.running ? "running" : "stopped");
  line("pid", std::to_string(r.pid));
  line("written", std::to_string(r.written_s));
  line("started", std::to_string(r.started_s));
  line("port", OneLine(r.port));
  line("board_running", r.board_running ? "1" : "0");
  line("last_ack", std::to_string(r.last_ack_s));
  line("check_ok", r.check_ok ? "1" : "0");
  line("last_check", std::to_string(r.last_check_s));
  line("failed_in_row", std::to_string(r.failed_in_row));
  line("next_check", std::to_string(r.next_check_s));
  line("modem_reset_in", std::to_string(r.modem_reset_in));
  line("computer_reset_in", std::to_string(r.computer_reset_in));
  line("settle_until", std::to_string(r.settle_until_s));
  line("resets_last_day", std::to_string(r.resets_last_day));
  line("resets_max_per_day", std::to_string(r.resets_max_per_day));
  line("last_reset", std::to_string(r.last_reset_s));
  line("last_reset_reason", OneLine(r.last_reset_reason));
  return t;
}

std::optional<StatusRecord> ParseStatus(std::string_view text) {
  std::map<std::string, std::string, std::less<>> values;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);  // a record that went through a Windows editor
    const std::size_t eq = line.find('=');
    if (eq != std::string_view::npos) values[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  const auto state = values.find("state");
  if (state == values.end() || !values.contains("pid")) return std::nullopt;
  StatusRecord r;
  r.running = state->second == "running";
  ParseNumber(values, "pid", r.pid);
  ParseNumber(values, "written", r.written_s);
  ParseNumber(values, "started", r.started_s);
  if (const auto it = values.find("port"); it != values.end()) r.port = it->second;
  ParseFlag(values, "board_running", r.board_running);
  ParseNumber(values, "last_ack", r.last_ack_s);
  ParseFlag(values, "check_ok", r.check_ok);
  ParseNumber(values, "last_check", r.last_check_s);
  ParseNumber(values, "failed_in_row", r.failed_in_row);
  ParseNumber(values, "next_check", r.next_check_s);
  ParseNumber(values, "modem_reset_in", r.modem_reset_in);
  ParseNumber(values, "computer_reset_in", r.computer_reset_in);
  ParseNumber(values, "settle_until", r.settle_until_s);
  ParseNumber(values, "resets_last_day", r.resets_last_day);
  ParseNumber(values, "resets_max_per_day", r.resets_max_per_day);
  ParseNumber(values, "last_reset", r.last_reset_s);
  if (const auto it = values.find("last_reset_reason"); it != values.end()) r.last_reset_reason = it->second;
  return r;
}

std::string SummaryLine(const StatusRecord& r, const TimeText& time_text) {
  std::string s = std::string(kProduct) + "running since " + time_text(r.started_s) + "; board " +
                  (r.board_running ? "running" : "not running") + "; ";
  if (r.last_check_s == 0) return s + "no check yet";
  if (r.check_ok) return s + "checks passing";
  s += "checks failing (" + Cycles(r.failed_in_row) + "), ";
  if (r.modem_reset_in >= 0) return s + "modem reset in " + Cycles(r.modem_reset_in);
  if (r.computer_reset_in >= 0) return s + "computer reset in " + Cycles(r.computer_reset_in);
  return s + "resets disabled";
}

StatusVerdict JudgeStatus(const std::optional<StatusRecord>& record, std::int64_t utc_now,
                          const std::function<bool(std::uint32_t pid)>& process_runs, const TimeText& time_text) {
  const auto not_running = [](const std::string& why) {
    return StatusVerdict{kStatusNotRunning, std::string(kProduct) + "not running (" + why + ")"};
  };
  if (!record) return not_running("no status record");
  const StatusRecord& r = *record;
  if (!r.running) return not_running("stopped at " + time_text(r.written_s));
  if (!process_runs(r.pid)) {
    return not_running("the process " + std::to_string(r.pid) + " that wrote the status record has ended");
  }
  if (utc_now - r.written_s > kStatusStaleSeconds) {
    return not_running("status record not refreshed for " + std::to_string(utc_now - r.written_s) + " s");
  }
  const bool degraded = !r.board_running || (r.last_check_s != 0 && !r.check_ok);
  return StatusVerdict{degraded ? kStatusDegraded : kStatusHealthy, SummaryLine(r, time_text)};
}

std::string StatusText(const std::optional<StatusRecord>& record, const StatusVerdict& verdict,
                       std::int64_t utc_now, const TimeText& time_text) {
  std::string t = verdict.summary + "\n";
  if (!record || verdict.exit_code == kStatusNotRunning) return t;
  const StatusRecord& r = *record;
  t += "Service: running since " + TimeAndAge(r.started_s, utc_now, time_text) + ", process " +
       std::to_string(r.pid) + ", record written " + std::to_string(utc_now - r.written_s) + " s ago\n";
  t += "Board: port " + r.port + ", " + (r.board_running ? "running" : "not running") + ", last acknowledgement " +
       (r.last_ack_s ? TimeAndAge(r.last_ack_s, utc_now, time_text) : std::string("none yet")) + "\n";
  t += "Checks: ";
  if (r.last_check_s == 0) {
    t += "no cycle yet";
  } else {
    t += std::string(r.check_ok ? "last cycle passed " : "last cycle failed ") +
         TimeAndAge(r.last_check_s, utc_now, time_text) + ", " + Cycles(r.failed_in_row) + " failed in a row";
  }
  if (r.next_check_s) t += ", next cycle due " + TimeAndAge(r.next_check_s, utc_now, time_text);
  t += "\nEscalation: " + ResetsOutlook(r);
  if (r.settle_until_s > utc_now) t += ", settle window open until " + TimeAndAge(r.settle_until_s, utc_now, time_text);
  t += "\nComputer resets in the last 24 h: " + std::to_string(r.resets_last_day) +
       (r.resets_max_per_day > 0 ? " of " + std::to_string(r.resets_max_per_day) + " allowed" : " (no daily limit)") +
       "\n";
  t += "Last computer reset: " +
       (r.last_reset_s ? time_text(r.last_reset_s) + " (" + r.last_reset_reason + ")" : std::string("none recorded")) +
       "\n";
  return t;
}

}  // namespace qov::metrics
