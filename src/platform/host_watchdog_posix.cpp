#include <systemd/sd-daemon.h>
#include <time.h>

#include <atomic>
#include <cstdint>

#include "platform/host_watchdog.h"

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
  static const std::int64_t interval = [] {
    std::uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? static_cast<std::int64_t>(usec) : std::int64_t{0};
  }();
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
  sd_notify(0, "WATCHDOG=1");
}

}  // namespace qov::platform
