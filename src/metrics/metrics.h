// The run's fleet metrics: counters and gauges that the checker, the control
// thread and the log bump where things happen, and the metrics writer reads.
// Every field is independent, so relaxed atomics suffice: a snapshot may mix
// values a few microseconds apart, never torn ones.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/clock.h"
#include "platform/wake_event.h"

namespace qov::metrics {

using Counter = std::atomic<std::uint64_t>;

struct Metrics {
  // No acknowledgement yet.
  static constexpr platform::Tick kNever = std::numeric_limits<platform::Tick>::min();

  std::atomic<bool> device_running{false};
  std::atomic<platform::Tick> last_ack_tick{kNever};

  // The event of whoever writes the status record (the supervisor's), set by
  // its owner; signalled when what the record says changes (the board comes
  // or goes, the checks' outlook moves), so that the record follows at once.
  // Null for nobody.
  std::atomic<platform::WakeEvent*> status_listener{nullptr};
  void StatusChanged() {
    if (platform::WakeEvent* w = status_listener.load()) w->Signal();
  }
  void SetDeviceRunning(bool running) {
    if (device_running.exchange(running, std::memory_order_relaxed) == running) return;
    StatusChanged();
  }

  std::atomic<bool> check_last_success{false};
  std::atomic<std::int32_t> check_failed_in_row{0};
  Counter check_cycles_ok{0};
  Counter check_cycles_fail{0};
  Counter life_messages_ok{0};
  Counter life_messages_fail{0};
  Counter modem_resets{0};
  Counter computer_resets{0};
  // Computer resets due but held back by the day's allowance.
  Counter computer_resets_suppressed{0};
  Counter log_write_failures{0};
  std::atomic<std::int64_t> start_time_s{0};
  Counter state_write_failures{0};
  // Published by the checker for the status record.
  std::atomic<platform::Tick> last_check_tick{kNever};
  std::atomic<platform::Tick> next_check_tick{kNever};
  // Failed cycles until the checker asks for each reset; kNoReset when
  // that reset is disabled.
  static constexpr std::int32_t kNoReset = -1;
  std::atomic<std::int32_t> modem_reset_in_cycles{kNoReset};
  std::atomic<std::int32_t> computer_reset_in_cycles{kNoReset};
};

// The hooks take a pointer that is null where no metrics are kept (tests, tools).
inline void Count(Metrics* m, Counter Metrics::*counter) {
  if (m) (m->*counter).fetch_add(1, std::memory_order_relaxed);
}

inline void RecordCheckCycle(Metrics* m, bool ok, std::int32_t failed_in_row,
                             platform::Tick at = Metrics::kNever) {
  if (!m) return;
  Count(m, ok ? &Metrics::check_cycles_ok : &Metrics::check_cycles_fail);
  if (at != Metrics::kNever) m->last_check_tick.store(at, std::memory_order_relaxed);
  m->check_last_success.store(ok, std::memory_order_relaxed);
  m->check_failed_in_row.store(failed_in_row, std::memory_order_relaxed);
}

// Plain values of one moment, for formatting.
struct Snapshot {
  bool up = true;
  bool device_running = false;
  // Milliseconds since the last acknowledgement; negative before the first.
  std::int64_t last_ack_age_ms = -1;
  // Unix time of the last acknowledgement in milliseconds; 0 before the first.
  std::int64_t last_ack_unix_ms = 0;
  bool check_last_success = false;
  std::int32_t check_failed_in_row = 0;
  std::uint64_t check_cycles_ok = 0;
  std::uint64_t check_cycles_fail = 0;
  std::uint64_t life_messages_ok = 0;
  std::uint64_t life_messages_fail = 0;
  std::uint64_t modem_resets = 0;
  std::uint64_t computer_resets = 0;
  std::uint64_t computer_resets_suppressed = 0;
  std::int64_t start_time_s = 0;
  std::uint64_t log_write_failures = 0;
  std::uint64_t state_write_failures = 0;
  // Unix times in milliseconds of the last check cycle and the next one; 0 for none.
  std::int64_t last_check_unix_ms = 0;
  std::int64_t next_check_unix_ms = 0;
  std::int32_t modem_reset_in_cycles = Metrics::kNoReset;
  std::int32_t computer_reset_in_cycles = Metrics::kNoReset;
  // The product's version, as -VERSION shows it.
  std::string version;
};

// `now` is the monotonic time the acknowledgement's tick is measured on,
// `utc_now_s` the wall time of the same moment.
Snapshot TakeSnapshot(const Metrics& m, platform::Tick now, std::int64_t utc_now_s, bool up);

}  // namespace qov::metrics
