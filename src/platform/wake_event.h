// The one thing a worker blocks on besides its deadline: an auto-resetting
// event that any thread sets to say "something changed" (a request, a reply,
// a stop). A signal given while nobody waits is kept for the next wait, so a
// waiter that tests its conditions and then waits never misses one.
#pragma once

#include <cstdint>
#include <memory>

namespace qov::platform {

class WakeEvent {
 public:
  static constexpr std::uint32_t kForever = UINT32_MAX;

  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  // Any thread, any time.
  void Signal();
  // Takes a waiting signal without blocking; true when there was one.
  bool TryTake();
  // Waits up to `timeout_ms` (on the monotonic clock) for a signal and takes
  // it; false when the time passed first.
  bool Wait(std::uint32_t timeout_ms);

#ifndef _WIN32
  // A descriptor that polls readable while a signal waits, made at the first
  // call: for a wait that must watch a socket as well. The signal is still
  // taken with TryTake or Wait.
  int ReadableFd();
#endif

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qov::platform
