// Run-time flags shared by the supervisor and the checker.
#pragma once

#include <atomic>
#include <limits>

#include "platform/clock.h"
#include "platform/wake_event.h"

namespace qov::supervision {

struct RunFlags {
  // Set by the supervisor after the start-up delay or a successful dial;
  // cleared by the checker at every failed cycle (ConnectionLost).
  std::atomic<bool> connection_up{false};
  // The supervisor's event, woken when the connection is lost; set by the
  // supervisor before it starts the checker.
  std::atomic<platform::WakeEvent*> supervisor_wake{nullptr};
  // Written by the supervisor only.
  std::atomic<bool> start_wait_done{false};
  std::atomic<bool> checker_started{false};
  // Written by the checker: outcome of the last check cycle.
  std::atomic<bool> last_check_ok{true};
  // Until this tick failed cycles do not count towards an escalation: moved
  // on by the checker at a modem reset and by the supervisor at a dial.
  std::atomic<platform::Tick> settle_until{std::numeric_limits<platform::Tick>::min()};
  // Whether the next dial that brings the connection up settles: armed at
  // the start and by each modem-reset request, taken by that dial. The
  // redials after failed cycles do not settle, or with a settle time at
  // least the fail period no failure would ever count.
  std::atomic<bool> dial_settles{true};

  // The checker found the connection down: the supervisor redials.
  void ConnectionLost() {
    connection_up.store(false);
    if (platform::WakeEvent* w = supervisor_wake.load()) w->Signal();
  }

  // The checker asks the board to reset the modem.
  void ModemResetRequested(platform::Tick now, std::int32_t settle_s) {
    SettleFor(now, settle_s);
    dial_settles.store(true);
  }
  // The supervisor's dial has brought the connection up.
  void ConnectionDialled(platform::Tick now, std::int32_t settle_s) {
    connection_up.store(true);
    if (dial_settles.exchange(false)) SettleFor(now, settle_s);
  }

  // Starts a settle time of `seconds` from `now` (nothing for 0 or less);
  // never shortens one already running.
  void SettleFor(platform::Tick now, std::int32_t seconds) {
    if (seconds <= 0) return;
    const platform::Tick until = platform::DeadlineAfterSeconds(now, seconds);
    platform::Tick current = settle_until.load();
    while (current < until && !settle_until.compare_exchange_weak(current, until)) {
    }
  }
  bool Settling(platform::Tick now) const { return now < settle_until.load(); }
};

}  // namespace qov::supervision
