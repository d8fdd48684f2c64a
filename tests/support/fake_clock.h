// A clock whose time moves only when someone waits on it (or a test
// advances it), so hours of waiting pass in microseconds. A wait jumps time
// towards its deadline in steps of at most `step` ms, calling the hook after
// each, and ends early once its event is signalled (a hook may signal it).
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>

#include "platform/clock.h"

namespace qov::test {

class FakeClock final : public platform::Clock {
 public:
  explicit FakeClock(platform::Tick start = 1000) : now_(start) {}

  platform::Tick NowMs() override { return now_.load(); }

  bool WaitUntil(platform::Tick deadline, platform::WakeEvent& wake) override {
    for (;;) {
      if (wake.TryTake()) return true;
      const platform::Tick now = now_.load();
      if (now >= deadline) return false;
      Step(std::min(deadline - now, step_ms_.load()));
    }
  }

  void Advance(platform::Tick ms) { now_ += ms; }
  void Set(platform::Tick t) { now_ = t; }
  // Steps of waits so far.
  long Sleeps() const { return sleeps_.load(); }
  // The longest step of a wait; finer steps let hooks act at finer times.
  void SetStep(platform::Tick ms) { step_ms_ = ms; }

  // Called after every step with the new time; tests use it to set a
  // terminate request or change the world at a given moment.
  void OnSleep(std::function<void(platform::Tick)> hook) {
    std::lock_guard lock(mutex_);
    on_sleep_ = std::move(hook);
  }

 private:
  void Step(platform::Tick ms) {
    now_ += ms;
    sleeps_++;
    std::function<void(platform::Tick)> hook;
    {
      std::lock_guard lock(mutex_);
      hook = on_sleep_;
    }
    if (hook) hook(now_.load());
  }

  std::atomic<platform::Tick> now_;
  std::atomic<platform::Tick> step_ms_{50};
  std::atomic<long> sleeps_{0};
  std::mutex mutex_;
  std::function<void(platform::Tick)> on_sleep_;
};

}  // namespace qov::test
