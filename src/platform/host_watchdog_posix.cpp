#include <time.h>

#include <atomic>
#include <cstdint>

#include "platform/host_watchdog.h"
#include "platform/systemd_notify_posix.h"

namespace qov::platform {
namespace {

std::int64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// The host's interval (0: no watchdog), read once from the environment
// systemd gave the process.
std::int64_t WatchdogIntervalUs() {
  static const std::int64_t interval = static_cast<std::int64_t>(SystemdWatchdogUsec());
  return interval;
}

}  // namespace

void FeedHostWatchdog() {
  const std::int64_t interval = WatchdogIntervalUs();
  if (interval <= 0) return;
  // Only the supervisor feeds; the atomic keeps a second caller harmless.
  static std::atomic<std::int64_t> last_us{0};
  const std::int64_t now = MonotonicUs();
  if (now - last_us.load(std::memory_order_relaxed) < interval / 2) return;
  last_us.store(now, std::memory_order_relaxed);
  NotifySystemd("WATCHDOG=1");
}

}  // namespace qov::platform
