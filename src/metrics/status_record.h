// The status record: what the running service tells an operator's -STATUS
// (and systemd's status line) about itself, kept where the system keeps the
// service's state and rewritten by the supervisor while the service runs.
// Also the rule that reads it: healthy, degraded, or not running.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "metrics/metrics.h"

namespace qov::metrics {

// The running service rewrites its record at every change of what it says
// and at least this often (rarely: a site on an SD card or a registry hive
// is not written to every few seconds for nothing); a record older than
// kStatusStaleSeconds is not taken for a running service's.
inline constexpr std::int64_t kStatusRefreshMs = 300'000;
inline constexpr std::int64_t kStatusStaleSeconds = 900;

// Times are Unix seconds, 0 for none.
struct StatusRecord {
  // False once the run has ended ("stopped").
  bool running = false;
  // The process that writes the record.
  std::uint32_t pid = 0;
  std::int64_t written_s = 0;
  std::int64_t started_s = 0;
  std::string port;
  bool board_running = false;
  std::int64_t last_ack_s = 0;
  bool check_ok = false;
  std::int64_t last_check_s = 0;
  std::int32_t failed_in_row = 0;
  std::int64_t next_check_s = 0;
  // Failed cycles until each reset; Metrics::kNoReset when disabled.
  std::int32_t modem_reset_in = Metrics::kNoReset;
  std::int32_t computer_reset_in = Metrics::kNoReset;
  // The end of the settle window while one is open.
  std::int64_t settle_until_s = 0;
  std::int32_t resets_last_day = 0;
  // reset_comp_max_per_day: 0 or less is no limit.
  std::int32_t resets_max_per_day = 0;
  std::int64_t last_reset_s = 0;
  std::string last_reset_reason;

  bool operator==(const StatusRecord&) const = default;
};

// The facts the metrics hold; the rest is the caller's to fill.
StatusRecord StatusFromSnapshot(const Snapshot& s);

// "name=value" lines; line breaks in texts become blanks.
std::string SerializeStatus(const StatusRecord& r);
// Nothing when `text` is not a record (no pid or state line).
std::optional<StatusRecord> ParseStatus(std::string_view text);

// Exit codes of -STATUS, as monitoring plugins read them.
inline constexpr int kStatusHealthy = 0;
inline constexpr int kStatusDegraded = 1;
inline constexpr int kStatusNotRunning = 3;

// Local date and time of a Unix time, as the log writes it.
using TimeText = std::function<std::string(std::int64_t utc_s)>;

struct StatusVerdict {
  int exit_code = kStatusNotRunning;
  // The first line of the text.
  std::string summary;
};

// A record tells of a running service only while it says "running", the
// process it names still runs, and it was written in the last
// kStatusStaleSeconds: a record left by a run that died reads "not
// running". A running service is degraded while its board is not running
// or its last check cycle failed.
StatusVerdict JudgeStatus(const std::optional<StatusRecord>& record, std::int64_t utc_now,
                          const std::function<bool(std::uint32_t pid)>& process_runs, const TimeText& time_text);

// The first line for a running service, without ages, so that it changes
// only when a fact does: "QOV Lumo service: running since <time>; board
// running; checks failing (3 cycles), modem reset in 8 cycles".
std::string SummaryLine(const StatusRecord& r, const TimeText& time_text);

// The whole text of -STATUS: the verdict's summary, then for a running
// service one line per fact, with ages in seconds from `utc_now`.
std::string StatusText(const std::optional<StatusRecord>& record, const StatusVerdict& verdict,
                       std::int64_t utc_now, const TimeText& time_text);

}  // namespace qov::metrics
