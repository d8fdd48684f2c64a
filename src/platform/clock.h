// Monotonic millisecond time and sleeping, behind an interface so that tests
// step time instead of waiting.
#pragma once

#include <atomic>
#include <cstdint>

namespace qov::platform {

// Milliseconds since an arbitrary start. 64 bits: it never wraps, so deadlines
// are plain comparisons.
using Tick = std::int64_t;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Tick NowMs() = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
};

// The operating system's clock (GetTickCount64 / CLOCK_MONOTONIC).
Clock& SystemClock();

// Deadline `period_ms` after `now`; zero and negative periods give a deadline
// that is already due on the next test.
inline Tick DeadlineAfter(Tick now, std::int64_t period_ms) { return now + period_ms; }
inline Tick DeadlineAfterSeconds(Tick now, std::int64_t period_s) { return now + period_s * 1000; }
inline bool IsPast(Tick now, Tick deadline) { return now > deadline; }

// Waits `seconds` in 250 ms sleeps, returning early once `terminate` is set.
// The first test comes before any sleep, so 0 s or an already set request return at once.
inline void WaitSeconds(Clock& clock, std::uint32_t seconds, const std::atomic<bool>& terminate) {
  const Tick deadline = DeadlineAfterSeconds(clock.NowMs(), seconds);
  while (clock.NowMs() < deadline && !terminate.load(std::memory_order_acquire)) {
    clock.SleepMs(250);
  }
}

}  // namespace qov::platform
