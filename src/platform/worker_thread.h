// Base of the service's own threads: a body that waits for its next
// deadline or a wake-up, with a terminate request that ends any such wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>

#include "platform/stop_request.h"
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

  // Written by the owner's thread; wakes the body from any wait.
  void RequestTerminate() override { stop_.Set(); }
  bool Terminated() const { return stop_.IsSet(); }
  const std::atomic<bool>& TerminateFlag() const { return stop_.Flag(); }
  StopRequest& Stop() { return stop_; }
  // Tells the body there is work before its next deadline; any thread.
  void Wake() { stop_.Wake().Signal(); }

  bool WaitFor(std::uint32_t timeout_ms) override { return !thread_ || thread_->WaitFor(timeout_ms); }

  // The body's promise to be back from its wait, with the work it then does
  // finished, by `due`; any thread may read it. The host's watchdog is fed
  // only while no worker is past its promise, so a body stuck in a driver
  // call gets the service restarted. A body that has ended promises nothing.
  void PromiseProgressBy(Tick due) { progress_due_.store(due, std::memory_order_relaxed); }
  bool ProgressOverdue(Tick now) const { return now > progress_due_.load(std::memory_order_relaxed); }

  // Runs Execute on the calling thread; tests drive bodies this way.
  void RunHere() { RunBody(); }

  // Starts Execute on a new thread; throws when the thread cannot be created.
  void Start() {
    thread_ = std::make_unique<Thread>([this] { RunBody(); });
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
  static constexpr Tick kNoPromise = std::numeric_limits<Tick>::max();
  void RunBody() {
    Execute();
    PromiseProgressBy(kNoPromise);
  }

  StopRequest stop_;
  std::atomic<Tick> progress_due_{kNoPromise};
  std::unique_ptr<Thread> thread_;
};

// Starts a worker; a seam so that tests can make thread creation fail.
using ThreadStarter = std::function<void(WorkerThread&)>;
inline void StartThread(WorkerThread& t) { t.Start(); }

}  // namespace qov::platform
