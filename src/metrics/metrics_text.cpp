#include "metrics/metrics_text.h"

#include <cstdint>
#include <string_view>
#include <utility>

namespace qov::metrics {
namespace {

class Exposition {
 public:
  void Family(std::string_view name, std::string_view type, std::string_view help) {
    text_ += "# HELP ";
    text_ += name;
    text_ += ' ';
    text_ += help;
    text_ += "\n# TYPE ";
    text_ += name;
    text_ += ' ';
    text_ += type;
    text_ += '\n';
  }
  void Sample(std::string_view name, std::string_view labels, const std::string& value) {
    text_ += name;
    text_ += labels;
    text_ += ' ';
    text_ += value;
    text_ += '\n';
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

std::string Flag(bool b) { return b ? "1" : "0"; }

// Seconds with three decimals, written by hand: locale-independent, exact.
std::string Seconds(std::int64_t ms) {
  if (ms < 0) return "-1";
  std::string frac = std::to_string(ms % 1000);
  return std::to_string(ms / 1000) + "." + std::string(3 - frac.size(), '0') + frac;
}

// A Unix time; 0 stands for "never", so the series exists from the first
// file on (Prometheus' advice: export 0 rather than leave a metric missing).
std::string UnixSeconds(std::int64_t ms) { return ms <= 0 ? "0" : Seconds(ms); }

}  // namespace

std::string FormatMetrics(const Snapshot& s) {
  using std::to_string;
  Exposition e;
  e.Family("qov_up", "gauge", "1 while the service runs, 0 in the file it leaves at its stop.");
  e.Sample("qov_up", "", Flag(s.up));
  e.Family("qov_build_info", "gauge", "Always 1; the label names the service's version.");
  e.Sample("qov_build_info", "{version=\"" + s.version + "\"}", "1");
  e.Family("qov_device_running", "gauge", "1 while the watchdog board's timer runs and takes life messages.");
  e.Sample("qov_device_running", "", Flag(s.device_running));
  e.Family("qov_device_last_ack_age_seconds", "gauge",
           "Seconds since the board last acknowledged an exchange; -1 before its first acknowledgement "
           "(deprecated: use qov_device_last_ack_timestamp_seconds).");
  e.Sample("qov_device_last_ack_age_seconds", "", Seconds(s.last_ack_age_ms));
  e.Family("qov_device_last_ack_timestamp_seconds", "gauge",
           "Unix time the board last acknowledged an exchange; 0 before its first acknowledgement.");
  e.Sample("qov_device_last_ack_timestamp_seconds", "", UnixSeconds(s.last_ack_unix_ms));
  e.Family("qov_check_last_success", "gauge", "1 when the last check cycle passed; 0 before the first.");
  e.Sample("qov_check_last_success", "", Flag(s.check_last_success));
  e.Family("qov_check_failed_cycles_in_row", "gauge", "Check cycles failed since the last passing one.");
  e.Sample("qov_check_failed_cycles_in_row", "", to_string(s.check_failed_in_row));
  e.Family("qov_check_cycles_total", "counter", "Check cycles completed, by outcome.");
  e.Sample("qov_check_cycles_total", "{result=\"ok\"}", to_string(s.check_cycles_ok));
  e.Sample("qov_check_cycles_total", "{result=\"fail\"}", to_string(s.check_cycles_fail));
  e.Family("qov_life_messages_total", "counter", "Life messages sent to the board, by outcome.");
  e.Sample("qov_life_messages_total", "{result=\"ok\"}", to_string(s.life_messages_ok));
  e.Sample("qov_life_messages_total", "{result=\"fail\"}", to_string(s.life_messages_fail));
  e.Family("qov_resets_total", "counter", "Reset requests handed to the board, by kind.");
  e.Sample("qov_resets_total", "{kind=\"modem\"}", to_string(s.modem_resets));
  e.Sample("qov_resets_total", "{kind=\"computer\"}", to_string(s.computer_resets));
  e.Family("qov_resets_suppressed_total", "counter",
           "Computer resets that were due but not sent: the day's allowance was used up.");
  e.Sample("qov_resets_suppressed_total", "", to_string(s.computer_resets_suppressed));
  e.Family("qov_start_time_seconds", "gauge", "Unix time of the service start.");
  e.Sample("qov_start_time_seconds", "", to_string(s.start_time_s));
  e.Family("qov_log_write_failures_total", "counter", "Log lines that could not be written to the log file.");
  e.Sample("qov_log_write_failures_total", "", to_string(s.log_write_failures));
  e.Family("qov_state_write_failures_total", "counter",
           "Computer resets whose record (the reboot-loop guard's count) could not be stored for good.");
  e.Sample("qov_state_write_failures_total", "", to_string(s.state_write_failures));
  return e.Take();
}

}  // namespace qov::metrics
