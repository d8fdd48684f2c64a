// What the supervisor and the checker tell each other during a run. Each
// value has one writer: the supervisor's side says what it did (the dial
// and its settle time), the checker's side what it found and asked for.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>

#include "platform/clock.h"
#include "platform/wake_event.h"

namespace qov::supervision {

inline constexpr platform::Tick kNoSettle = std::numeric_limits<platform::Tick>::min();

// The tick `seconds` after `now`, or `kNoSettle` for 0 or less.
inline platform::Tick SettleEnd(platform::Tick now, std::int32_t seconds) {
  return seconds > 0 ? platform::DeadlineAfterSeconds(now, seconds) : kNoSettle;
}

struct RunFlags {
  // --- Written by the supervisor ---
  // Its event, set before it starts the checker: woken when the checker
  // reports a loss.
  std::atomic<platform::WakeEvent*> supervisor_wake{nullptr};
  // Until this tick failed cycles do not count: the settle time of the dial
  // that brought the connection up.
  std::atomic<platform::Tick> dial_settle_until{kNoSettle};

  // --- Written by the checker ---
  // Outcome of the last check cycle.
  std::atomic<bool> last_check_ok{true};
  // Failed cycles so far: each one found the connection down, and the
  // supervisor dials again after it.
  std::atomic<std::uint64_t> connection_losses{0};
  // Modem resets asked of the board so far: the first dial after each one
  // settles.
  std::atomic<std::uint64_t> modem_resets{0};
  // Until this tick failed cycles do not count: the settle time after the
  // last modem reset.
  std::atomic<platform::Tick> reset_settle_until{kNoSettle};

  // The checker found the connection down: the supervisor redials.
  void ConnectionLost() {
    connection_losses.fetch_add(1);
    if (platform::WakeEvent* w = supervisor_wake.load()) w->Signal();
  }
  // The checker asks the board to reset the modem. Counted before the loss
  // the same cycle reports, so the redial that loss causes settles.
  void ModemResetRequested(platform::Tick now, std::int32_t settle_s) {
    reset_settle_until.store(std::max(reset_settle_until.load(), SettleEnd(now, settle_s)));
    modem_resets.fetch_add(1);
  }

  platform::Tick SettleUntil() const { return std::max(dial_settle_until.load(), reset_settle_until.load()); }
  bool Settling(platform::Tick now) const { return now < SettleUntil(); }
};

// The supervisor's view of the connection, made from the checker's counts.
// Used by one thread (the supervisor's).
class ConnectionState {
 public:
  explicit ConnectionState(RunFlags& flags) : flags_(flags), losses_seen_(flags.connection_losses.load()) {}

  // Up since the start-up delay or the last dial, unless a failed cycle has
  // been reported since.
  bool Up() {
    const std::uint64_t losses = flags_.connection_losses.load();
    if (losses != losses_seen_) {
      losses_seen_ = losses;
      up_ = false;
    }
    return up_;
  }
  // The start-up delay is over: no dial, no settle time.
  void StartDelayOver() { MarkUp(); }
  // A dial brought the connection up. Only the first dial of the run and the
  // first after each modem reset settle: the redials after failed cycles do
  // not, or with a settle time at least the fail period no failure would
  // ever count.
  void Dialled(platform::Tick now, std::int32_t settle_s) {
    MarkUp();
    const std::uint64_t resets = flags_.modem_resets.load();
    if (settled_once_ && resets == resets_settled_) return;
    settled_once_ = true;
    resets_settled_ = resets;
    const platform::Tick until = SettleEnd(now, settle_s);
    if (until > flags_.dial_settle_until.load()) flags_.dial_settle_until.store(until);
  }

 private:
  // Up from now on: the losses reported so far are behind it.
  void MarkUp() {
    losses_seen_ = flags_.connection_losses.load();
    up_ = true;
  }

  RunFlags& flags_;
  std::uint64_t losses_seen_;
  bool up_ = false;
  bool settled_once_ = false;
  std::uint64_t resets_settled_ = 0;
};

}  // namespace qov::supervision
