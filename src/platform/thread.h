// An operating-system thread with a bounded wait. A thread is never killed:
// one that does not end in time is left to run, and its owner decides what
// it may still free.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace qov::platform {

class Thread {
 public:
  // Starts `body` on a new thread at once; throws std::runtime_error when
  // the system cannot create the thread.
  explicit Thread(std::function<void()> body);
  // Waits for the thread's end without a time limit, then releases it.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // True when the thread ended within `timeout_ms`.
  bool WaitFor(std::uint32_t timeout_ms);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qov::platform
