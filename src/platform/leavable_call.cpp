#include "platform/leavable_call.h"

#include <chrono>
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
      changed.notify_all();
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

std::optional<bool> LeavableWorker::Run(std::function<bool()> call, const std::atomic<bool>& stop) {
  if (stop.load(std::memory_order_acquire)) return std::nullopt;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([state = state_] { state->Serve(); });
    } catch (const std::system_error&) {
      return call();
    }
  }
  std::unique_lock lock(state_->mutex);
  const auto wait_while_busy = [&] {
    while (state_->busy) {
      if (stop.load(std::memory_order_acquire)) return false;
      state_->changed.wait_for(lock, std::chrono::milliseconds(kStopCheckMs));
    }
    return true;
  };
  if (!wait_while_busy()) return std::nullopt;  // one given up on earlier still runs
  state_->job = std::move(call);
  state_->busy = true;
  state_->changed.notify_all();
  if (!wait_while_busy()) return std::nullopt;
  return state_->result;
}

}  // namespace qov::platform
