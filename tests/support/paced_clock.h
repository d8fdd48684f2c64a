// The system's monotonic clock run a fixed number of times faster: every
// wait takes that fraction of real time and time moves on accordingly for
// every thread, so the module's waits (start-up delay, open retries, life
// messages) shrink while keeping their proportions to each other and to the
// real time-outs of the port and the stop.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/clock.h"

namespace qov::test {

class PacedClock final : public platform::Clock {
 public:
  explicit PacedClock(int speed_up) : speed_up_(speed_up), start_(std::chrono::steady_clock::now()) {}

  platform::Tick NowMs() override {
    const auto real = std::chrono::steady_clock::now() - start_;
    return 1000 + std::chrono::duration_cast<std::chrono::milliseconds>(real).count() * speed_up_;
  }
  bool WaitUntil(platform::Tick deadline, platform::WakeEvent& wake) override {
    for (;;) {
      const platform::Tick left = deadline - NowMs();
      if (left <= 0) return wake.TryTake();
      // At least a real millisecond, so that a short wait does not spin.
      const auto real_ms = static_cast<std::uint32_t>(std::max<platform::Tick>(1, left / speed_up_));
      if (wake.Wait(real_ms)) return true;
    }
  }

 private:
  const int speed_up_;
  const std::chrono::steady_clock::time_point start_;
};

}  // namespace qov::test
