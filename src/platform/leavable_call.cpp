#include "platform/leavable_call.h"

#include <condition_variable>
#include <mutex>
#include <system_error>

namespace qov::platform {

// Shared by the owner and the helper; whichever lets go last frees it.
struct LeavableWorker::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::function<bool()> job;  // set by the owner, taken by the helper
  bool busy = false;          // a job is queued or running
  bool result = false;
  bool quit = false;
  // The waiting caller's event; cleared under the mutex before the caller
  // leaves, so a helper finishing late never signals a freed one.
  WakeEvent* waiter = nullptr;

  void Serve() {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return quit || job; });
      if (!job) return;
      std::function<bool()> call = std::move(job);
      job = nullptr;
      lock.unlock();
      const bool r = call();
      lock.lock();
      result = r;
      busy = false;
      if (waiter) waiter->Signal();
    }
  }
};

LeavableWorker::LeavableWorker() : state_(std::make_shared<State>()) {}

LeavableWorker::~LeavableWorker() {
  if (!thread_.joinable()) return;
  bool busy = false;
  {
    std::lock_guard lock(state_->mutex);
    state_->quit = true;
    busy = state_->busy;
    state_->changed.notify_all();
  }
  // A helper left inside a call is not waited for; it ends on its own.
  if (busy) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

std::optional<bool> LeavableWorker::Run(std::function<bool()> call, StopRequest& stop) {
  if (stop.IsSet()) return std::nullopt;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([state = state_] { state->Serve(); });
    } catch (const std::system_error&) {
      return call();
    }
  }
  std::unique_lock lock(state_->mutex);
  state_->waiter = &stop.Wake();
  const auto wait_while_busy = [&] {
    while (state_->busy) {
      if (stop.IsSet()) return false;
      lock.unlock();
      stop.Wake().Wait(WakeEvent::kForever);
      lock.lock();
    }
    return true;
  };
  std::optional<bool> outcome;
  // One given up on earlier may still run: the new call waits behind it.
  if (wait_while_busy()) {
    state_->job = std::move(call);
    state_->busy = true;
    state_->changed.notify_all();
    if (wait_while_busy()) outcome = state_->result;
  }
  state_->waiter = nullptr;
  return outcome;
}

}  // namespace qov::platform
