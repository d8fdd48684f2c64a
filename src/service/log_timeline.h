// What a log file says happened, read back: each line's time and what kind
// of event it records (check results, the board going down and up, resets,
// dials, service starts and stops), and the summary an operator asks for
// after an outage: counts per day and the longest run of failed checks.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qov::service {

enum class LogEventKind {
  kCheckOk,
  kCheckFail,
  kBoardUp,
  kBoardDown,
  kModemReset,
  kComputerReset,
  kResetSuppressed,
  kDial,
  kDialFail,
  kServiceStart,
  kServiceStop,
  kOther,
};
inline constexpr int kLogEventKinds = static_cast<int>(LogEventKind::kOther) + 1;

struct LogEvent {
  // Local time as written, in seconds from 1 January 1970 (no time zone);
  // nothing when the line's stamp could not be read.
  std::optional<std::int64_t> time;
  LogEventKind kind = LogEventKind::kOther;
  std::string message;
};

// A stretch of time, in the same seconds as LogEvent::time.
struct Span {
  std::int64_t from = 0;
  std::int64_t to = 0;
  bool open = false;  // still going at the log's end
};

struct LogSummary {
  std::vector<LogEvent> events;  // every line, oldest first
  std::optional<std::int64_t> first, last;
  // Per day ("YYYY-MM-DD"), the count of each kind.
  std::map<std::string, std::array<int, kLogEventKinds>> per_day;
  std::array<int, kLogEventKinds> totals{};
  // Runs of failed checks (from the first failure to the next success) and
  // times the board was away (from its loss to the next timer start).
  std::vector<Span> outages, board_down;
  std::optional<Span> longest_outage;
};

// The kind of event a message records.
LogEventKind ClassifyMessage(std::string_view message);
// "M/D/YY[YY][ H:MM:SS[ AM|PM]] - message": the time and the message; the
// whole line as the message, without a time, when it is not of that form.
LogEvent ParseLogLine(std::string_view line);
// Reads the lines of `texts` in order (the older generation first).
LogSummary Summarize(const std::vector<std::string>& texts);

// "YYYY-MM-DD HH:MM:SS" for a time of LogEvent.
std::string TimeText(std::int64_t t);
// "2 h 05 min", "45 s".
std::string DurationText(std::int64_t seconds);

}  // namespace qov::service
