// Base of the service's own threads: a polling body with a terminate request.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/thread.h"

namespace qov::platform {

// What the stop handler needs of a thread it takes down.
class Stoppable {
 public:
  virtual ~Stoppable() = default;
  virtual void RequestTerminate() = 0;
  // True when the thread has ended within `timeout_ms` (or never ran).
  virtual bool WaitFor(std::uint32_t timeout_ms) = 0;
};

class WorkerThread : public Stoppable {
 public:
  WorkerThread() = default;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  // Every final class calls Join() in its own destructor, so that Execute
  // never runs on a half-destroyed object; this is the backstop.
  ~WorkerThread() override { Join(); }

  // Written by the owner's thread, read by the body once per pass.
  void RequestTerminate() override { terminate_.store(true, std::memory_order_release); }
  bool Terminated() const { return terminate_.load(std::memory_order_acquire); }
  const std::atomic<bool>& TerminateFlag() const { return terminate_; }

  bool WaitFor(std::uint32_t timeout_ms) override { return !thread_ || thread_->WaitFor(timeout_ms); }

  // Runs Execute on the calling thread; tests drive bodies this way.
  void RunHere() { Execute(); }

  // Starts Execute on a new thread; throws when the thread cannot be created.
  void Start() {
    thread_ = std::make_unique<Thread>([this] { Execute(); });
  }

 protected:
  // Sets the terminate request again and waits for the end without a limit.
  // Owners call it only for threads that have ended or will end soon: one
  // left behind by the stop handler is never freed.
  void Join() {
    if (!thread_) return;
    RequestTerminate();
    thread_.reset();
  }

  virtual void Execute() = 0;

 private:
  std::atomic<bool> terminate_{false};
  std::unique_ptr<Thread> thread_;
};

// Starts a worker; a seam so that tests can make thread creation fail.
using ThreadStarter = std::function<void(WorkerThread&)>;
inline void StartThread(WorkerThread& t) { t.Start(); }

}  // namespace qov::platform
