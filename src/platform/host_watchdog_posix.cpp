#include <systemd/sd-daemon.h>

#include <cstdint>

#include "platform/host_watchdog.h"

namespace qov::platform {
namespace {

// The host's time-out in microseconds (0: no watchdog), read once from the
// environment systemd gave the process.
std::int64_t WatchdogIntervalUs() {
  static const std::int64_t interval = [] {
    std::uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? static_cast<std::int64_t>(usec) : std::int64_t{0};
  }();
  return interval;
}

}  // namespace

std::int64_t HostWatchdogFeedPeriodMs() {
  const std::int64_t interval = WatchdogIntervalUs();
  if (interval <= 0) return 0;
  // Half the time-out, as systemd advises, and never below a millisecond.
  const std::int64_t half_ms = interval / 2000;
  return half_ms > 0 ? half_ms : 1;
}

void FeedHostWatchdog() {
  if (WatchdogIntervalUs() > 0) sd_notify(0, "WATCHDOG=1");
}

}  // namespace qov::platform
