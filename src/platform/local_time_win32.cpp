#include "platform/local_time.h"
#include "platform/win32.h"

namespace qov::platform {

std::string LocalDateTimeText() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  char date[128] = {};
  char time[128] = {};
  ::GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, sizeof date);
  std::string text = date;
  if (now.wHour != 0 || now.wMinute != 0 || now.wSecond != 0 || now.wMilliseconds != 0) {
    ::GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, &now, nullptr, time, sizeof time);
    text += ' ';
    text += time;
  }
  return text;
}

namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000LL;

}  // namespace

std::string LocalDateTimeText(std::int64_t utc_seconds) {
  const std::int64_t ticks = utc_seconds * 10000000LL + kUnixEpochAsFileTime;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc_time{};
  SYSTEMTIME local{};
  if (!::FileTimeToSystemTime(&utc, &utc_time) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc_time, &local)) {
    return std::to_string(utc_seconds);
  }
  char date[128] = {};
  char time[128] = {};
  ::GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, sizeof date);
  ::GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, &local, nullptr, time, sizeof time);
  return std::string(date) + " " + time;
}

std::int64_t UtcNowSeconds() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::int64_t ticks = (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - kUnixEpochAsFileTime) / 10000000LL;
}

}  // namespace qov::platform
