#include "service/log_timeline.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace qov::service {
namespace {

// Days from 1 January 1970 to a civil date (the proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
  std::int64_t y;
  unsigned m, d;
};
Civil CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

// Reads an unsigned number of 1 to `max_digits` digits at `pos`.
bool Number(std::string_view s, std::size_t& pos, int max_digits, int& out) {
  int digits = 0;
  out = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && digits < max_digits) {
    out = out * 10 + (s[pos++] - '0');
    ++digits;
  }
  return digits > 0;
}
bool Char(std::string_view s, std::size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

std::string DayText(std::int64_t t) {
  const Civil c = CivilFromDays(t >= 0 ? t / 86400 : (t - 86399) / 86400);
  char text[16];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(c.y), c.m, c.d);
  return text;
}

}  // namespace

LogEventKind ClassifyMessage(std::string_view m) {
  using K = LogEventKind;
  if (m == "ping ok") return K::kCheckOk;
  if (m == "ping fail") return K::kCheckFail;
  if (m == "QOV timer init ok") return K::kBoardUp;
  if (m == "Life message send fail" || m == "QOV version fail" || m == "QOV timer init fail" ||
      m.starts_with("QOV COM port open fail (")) {
    return K::kBoardDown;
  }
  if (m == "modem reset ok" || m == "modem reset fail" || m == "modem reset skipped (dry run)") return K::kModemReset;
  // "reset pc fail" follows the "reset pc ok" of the same reset.
  if (m == "reset pc ok" || m == "reset pc skipped (dry run)") return K::kComputerReset;
  if (m.starts_with("reset pc suppressed (")) return K::kResetSuppressed;
  if (m.starts_with("Open Internet-connection ")) return K::kDial;
  if (m.starts_with("Unable to open Internet-connection ")) return K::kDialFail;
  if (m == "Service started") return K::kServiceStart;
  if (m == "Service stopped") return K::kServiceStop;
  return K::kOther;
}

LogEvent ParseLogLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  LogEvent event;
  const std::size_t separator = line.find(" - ");
  std::string_view message = line;
  if (separator != std::string_view::npos) {
    const std::string_view stamp = line.substr(0, separator);
    std::size_t pos = 0;
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    bool ok = Number(stamp, pos, 2, month) && Char(stamp, pos, '/') && Number(stamp, pos, 2, day) &&
              Char(stamp, pos, '/') && Number(stamp, pos, 4, year);
    if (ok && pos < stamp.size()) {
      ok = Char(stamp, pos, ' ') && Number(stamp, pos, 2, hour) && Char(stamp, pos, ':') &&
           Number(stamp, pos, 2, minute) && Char(stamp, pos, ':') && Number(stamp, pos, 2, second);
      const std::string_view rest = stamp.substr(std::min(pos, stamp.size()));
      if (ok && (rest == " AM" || rest == " PM")) {
        if (hour == 12) hour = 0;
        if (rest == " PM") hour += 12;
      } else if (!rest.empty()) {
        ok = false;
      }
    }
    if (year < 100) year += 2000;
    ok = ok && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 && second < 61;
    if (ok) {
      event.time = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                   hour * 3600 + minute * 60 + second;
      message = line.substr(separator + 3);
    }
  }
  event.message = std::string(message);
  event.kind = ClassifyMessage(message);
  return event;
}

LogSummary Summarize(const std::vector<std::string>& texts) {
  LogSummary s;
  // Where a run of failed checks, or the board's absence, began; kNone for none.
  constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::min();
  std::int64_t failing_since = kNone, board_away_since = kNone;
  std::int64_t now = 0;
  for (const std::string& text : texts) {
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string_view line(text.data() + start, end - start);
      start = end + 1;
      if (line.find_first_not_of("\r") == std::string_view::npos) continue;
      LogEvent e = ParseLogLine(line);
      // A line without a readable time happened when the one before it did.
      if (e.time) now = *e.time;
      if (!e.time && s.last) e.time = now;
      if (e.time) {
        if (!s.first) s.first = now;
        s.last = now;
        ++s.per_day[DayText(now)][static_cast<std::size_t>(e.kind)];
      }
      ++s.totals[static_cast<std::size_t>(e.kind)];
      switch (e.kind) {
        case LogEventKind::kCheckFail:
          if (failing_since == kNone) failing_since = now;
          break;
        case LogEventKind::kCheckOk:
          if (failing_since != kNone) s.outages.push_back({failing_since, now, false});
          failing_since = kNone;
          break;
        case LogEventKind::kBoardDown:
          if (board_away_since == kNone) board_away_since = now;
          break;
        case LogEventKind::kBoardUp:
          if (board_away_since != kNone) s.board_down.push_back({board_away_since, now, false});
          board_away_since = kNone;
          break;
        default:
          break;
      }
      s.events.push_back(std::move(e));
    }
  }
  if (failing_since != kNone) s.outages.push_back({failing_since, now, true});
  if (board_away_since != kNone) s.board_down.push_back({board_away_since, now, true});
  for (const Span& o : s.outages) {
    if (!s.longest_outage || o.to - o.from > s.longest_outage->to - s.longest_outage->from) s.longest_outage = o;
  }
  return s;
}

std::string TimeText(std::int64_t t) {
  const std::int64_t day = t >= 0 ? t / 86400 : (t - 86399) / 86400;
  const std::int64_t in_day = t - day * 86400;
  char text[32];
  std::snprintf(text, sizeof text, "%s %02d:%02d:%02d", DayText(t).c_str(), static_cast<int>(in_day / 3600),
                static_cast<int>(in_day / 60 % 60), static_cast<int>(in_day % 60));
  return text;
}

std::string DurationText(std::int64_t seconds) {
  char text[48];
  if (seconds < 60) {
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(seconds));
  } else if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%lld min %02lld s", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld h %02lld min", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60));
  }
  return text;
}

}  // namespace qov::service
