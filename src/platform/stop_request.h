// A worker's terminate request together with the event its thread waits on,
// so that setting the request also ends whatever wait the thread is in: a
// deadline far away, a reply not yet come, a probe on a helper thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"
#include "platform/wake_event.h"

namespace qov::platform {

class StopRequest {
 public:
  // Any thread; sets the request, then wakes the waiter.
  void Set() {
    requested_.store(true, std::memory_order_release);
    wake_.Signal();
  }
  bool IsSet() const { return requested_.load(std::memory_order_acquire); }
  const std::atomic<bool>& Flag() const { return requested_; }
  // The waiting thread's event: others signal it for work that is not a stop.
  WakeEvent& Wake() { return wake_; }

  // Waits on `clock` until `deadline`, a stop or another wake-up; true when
  // woken before the deadline. Once the stop is set it returns at once, even
  // when an earlier wait already took the stop's wake-up.
  bool WaitUntil(Clock& clock, Tick deadline) { return IsSet() || clock.WaitUntil(deadline, wake_); }

 private:
  std::atomic<bool> requested_{false};
  WakeEvent wake_;
};

// A pause: waits on `clock` until `deadline`, ending at once when `stop` is
// set (also when it is set already); other wake-ups do not end it.
inline void PauseUntil(Clock& clock, Tick deadline, StopRequest& stop) {
  while (!stop.IsSet() && !IsDue(clock.NowMs(), deadline)) stop.WaitUntil(clock, deadline);
}
inline void WaitSeconds(Clock& clock, std::uint32_t seconds, StopRequest& stop) {
  PauseUntil(clock, DeadlineAfterSeconds(clock.NowMs(), seconds), stop);
}

}  // namespace qov::platform
