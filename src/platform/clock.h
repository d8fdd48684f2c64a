// Monotonic millisecond time and waiting for a deadline, behind an interface
// so that tests step time instead of waiting.
#pragma once

#include <cstdint>

#include "platform/wake_event.h"

namespace qov::platform {

// Milliseconds since an arbitrary start. 64 bits: it never wraps, so deadlines
// are plain comparisons.
using Tick = std::int64_t;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Tick NowMs() = 0;
  // Blocks until `deadline` or until `wake` is signalled, whichever comes
  // first; true when the signal ended it (and was taken). A deadline already
  // due returns at once.
  virtual bool WaitUntil(Tick deadline, WakeEvent& wake) = 0;
  // Blocks until `wake` is signalled, however long that takes, and takes
  // the signal. No time passes for it on a test's clock; a scheduler that
  // runs one thread at a time runs the others meanwhile.
  virtual void WaitForSignal(WakeEvent& wake) {
    while (!wake.Wait(WakeEvent::kForever)) {
    }
  }
};

// The operating system's clock (GetTickCount64 / CLOCK_MONOTONIC).
Clock& SystemClock();

// Deadline `period_ms` after `now`; zero and negative periods give a deadline
// that is already due.
inline Tick DeadlineAfter(Tick now, std::int64_t period_ms) { return now + period_ms; }
inline Tick DeadlineAfterSeconds(Tick now, std::int64_t period_s) { return now + period_s * 1000; }
inline bool IsDue(Tick now, Tick deadline) { return now >= deadline; }

// Waits on a real monotonic clock, whose reading `now` gives: the event's
// own timed wait, repeated when it returns before the deadline without a signal.
template <class Now>
bool WaitUntilOnSystemTime(Now now, Tick deadline, WakeEvent& wake) {
  for (;;) {
    const Tick left = deadline - now();
    if (left <= 0) return wake.TryTake();
    const auto chunk = static_cast<std::uint32_t>(left < Tick{WakeEvent::kForever - 1} ? left : WakeEvent::kForever - 1);
    if (wake.Wait(chunk)) return true;
  }
}

}  // namespace qov::platform
