// The system's monotonic clock run a fixed number of times faster: every
// sleep takes that fraction of real time and time moves on accordingly for
// every thread, so the module's waits (start-up delay, open retries, poll
// sleeps) shrink while keeping their proportions to each other and to the
// real time-outs of the port and the stop.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/clock.h"

namespace qov::test {

class PacedClock final : public platform::Clock {
 public:
  explicit PacedClock(int speed_up) : speed_up_(speed_up), start_(std::chrono::steady_clock::now()) {}

  platform::Tick NowMs() override {
    const auto real = std::chrono::steady_clock::now() - start_;
    return 1000 + std::chrono::duration_cast<std::chrono::milliseconds>(real).count() * speed_up_;
  }
  void SleepMs(std::uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::microseconds(std::int64_t{ms} * 1000 / speed_up_));
  }

 private:
  const int speed_up_;
  const std::chrono::steady_clock::time_point start_;
};

}  // namespace qov::test
