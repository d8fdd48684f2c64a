// An operating-system thread with a bounded wait and a forced kill.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace qov::platform {

class Thread {
 public:
  // Starts `body` on a new thread at once.
  explicit Thread(std::function<void()> body);
  // Waits for the thread's end without a time limit, then releases it.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // True when the thread ended within `timeout_ms`.
  bool WaitFor(std::uint32_t timeout_ms);

  // Ends the thread by force. Windows: TerminateThread. POSIX: pthread_cancel,
  // which takes effect at the thread's next cancellation point (every worker
  // sleeps or reads once per pass) and unwinds its stack.
  void Kill();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qov::platform
