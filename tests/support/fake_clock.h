// A clock whose time moves only when someone sleeps on it (or a test
// advances it), so hours of waiting pass in microseconds.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "platform/clock.h"

namespace qov::test {

class FakeClock final : public platform::Clock {
 public:
  explicit FakeClock(platform::Tick start = 1000) : now_(start) {}

  platform::Tick NowMs() override { return now_.load(); }

  void SleepMs(std::uint32_t ms) override {
    now_ += ms;
    sleeps_++;
    std::function<void(platform::Tick)> hook;
    {
      std::lock_guard lock(mutex_);
      hook = on_sleep_;
    }
    if (hook) hook(now_.load());
  }

  void Advance(platform::Tick ms) { now_ += ms; }
  void Set(platform::Tick t) { now_ = t; }
  long Sleeps() const { return sleeps_.load(); }

  // Called after every sleep with the new time; tests use it to set a
  // terminate request or change the world at a given moment.
  void OnSleep(std::function<void(platform::Tick)> hook) {
    std::lock_guard lock(mutex_);
    on_sleep_ = std::move(hook);
  }

 private:
  std::atomic<platform::Tick> now_;
  std::atomic<long> sleeps_{0};
  std::mutex mutex_;
  std::function<void(platform::Tick)> on_sleep_;
};

}  // namespace qov::test
