#include <sys/time.h>
#include <time.h>

#include "platform/local_time.h"

namespace qov::platform {

std::string LocalDateTimeText() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  localtime_r(&tv.tv_sec, &local);
  char date[64] = {};
  char time[64] = {};
  strftime(date, sizeof date, "%x", &local);
  std::string text = date;
  if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0 || tv.tv_usec != 0) {
    strftime(time, sizeof time, "%X", &local);
    text += ' ';
    text += time;
  }
  return text;
}

std::string LocalDateTimeText(std::int64_t utc_seconds) {
  const time_t t = static_cast<time_t>(utc_seconds);
  tm local{};
  localtime_r(&t, &local);
  char text[128] = {};
  strftime(text, sizeof text, "%x %X", &local);
  return text;
}

std::int64_t UtcNowSeconds() { return static_cast<std::int64_t>(::time(nullptr)); }

}  // namespace qov::platform
