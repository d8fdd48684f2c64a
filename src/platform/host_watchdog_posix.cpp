#include <cstdint>

#include "platform/host_watchdog.h"
#include "platform/systemd_notify_posix.h"

namespace qov::platform {
namespace {

// The host's time-out in microseconds (0: no watchdog), read once from the
// environment systemd gave the process.
std::int64_t WatchdogIntervalUs() {
  static const std::int64_t interval = static_cast<std::int64_t>(SystemdWatchdogUsec());
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
  if (WatchdogIntervalUs() > 0) NotifySystemd("WATCHDOG=1");
}

}  // namespace qov::platform
