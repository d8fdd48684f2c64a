#include "metrics/metrics.h"

#include <algorithm>

#ifndef QOV_VERSION_TEXT
#error "QOV_VERSION_TEXT comes from the version resource through the build"
#endif

namespace qov::metrics {
namespace {

// The wall time of `tick` (before or after `now`, which is `utc_now_s`) in
// milliseconds; 0 for none, or before 1970.
std::int64_t UnixMsOf(platform::Tick tick, platform::Tick now, std::int64_t utc_now_s) {
  if (tick == Metrics::kNever) return 0;
  return std::max<std::int64_t>(0, utc_now_s * 1000 + (tick - now));
}

}  // namespace

Snapshot TakeSnapshot(const Metrics& m, platform::Tick now, std::int64_t utc_now_s, bool up) {
  constexpr auto r = std::memory_order_relaxed;
  Snapshot s;
  s.up = up;
  s.device_running = m.device_running.load(r);
  const platform::Tick ack = m.last_ack_tick.load(r);
  s.last_ack_age_ms = ack == Metrics::kNever ? -1 : (now > ack ? now - ack : 0);
  // The tick is monotonic; the wall time of now, less the age, places the
  // acknowledgement on the clock Prometheus' time() reads. A wall clock set
  // before 1970 gives 0, as before the first acknowledgement.
  s.last_ack_unix_ms = s.last_ack_age_ms < 0 ? 0 : std::max<std::int64_t>(0, utc_now_s * 1000 - s.last_ack_age_ms);
  s.check_last_success = m.check_last_success.load(r);
  s.check_failed_in_row = m.check_failed_in_row.load(r);
  s.check_cycles_ok = m.check_cycles_ok.load(r);
  s.check_cycles_fail = m.check_cycles_fail.load(r);
  s.life_messages_ok = m.life_messages_ok.load(r);
  s.life_messages_fail = m.life_messages_fail.load(r);
  s.modem_resets = m.modem_resets.load(r);
  s.computer_resets = m.computer_resets.load(r);
  s.computer_resets_suppressed = m.computer_resets_suppressed.load(r);
  s.start_time_s = m.start_time_s.load(r);
  s.log_write_failures = m.log_write_failures.load(r);
  s.state_write_failures = m.state_write_failures.load(r);
  s.last_check_unix_ms = UnixMsOf(m.last_check_tick.load(r), now, utc_now_s);
  s.next_check_unix_ms = UnixMsOf(m.next_check_tick.load(r), now, utc_now_s);
  s.modem_reset_in_cycles = m.modem_reset_in_cycles.load(r);
  s.computer_reset_in_cycles = m.computer_reset_in_cycles.load(r);
  s.version = QOV_VERSION_TEXT;
  return s;
}

}  // namespace qov::metrics
