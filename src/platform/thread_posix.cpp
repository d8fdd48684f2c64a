#include <pthread.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/thread.h"

namespace qov::platform {

struct Thread::Impl {
  std::function<void()> body;
  pthread_t id{};
  bool joined = false;
  // Set by the thread as its last act; the bounded wait waits for it on the
  // steady clock, so a step of the wall clock during a stop neither
  // lengthens nor cuts a limit. The join that follows is then at once.
  std::mutex mutex;
  std::condition_variable ended_cv;
  bool ended = false;

  static void* Entry(void* arg) {
    auto* self = static_cast<Impl*>(arg);
    self->body();
    std::lock_guard lock(self->mutex);
    self->ended = true;
    self->ended_cv.notify_all();
    return nullptr;
  }

  void Join() {
    if (joined) return;
    pthread_join(id, nullptr);
    joined = true;
  }
};

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
  impl_->body = std::move(body);
  const int rc = pthread_create(&impl_->id, nullptr, &Impl::Entry, impl_.get());
  if (rc != 0) throw std::runtime_error(std::string("pthread_create failed: ") + strerror(rc));
}

Thread::~Thread() { impl_->Join(); }

bool Thread::WaitFor(std::uint32_t timeout_ms) {
  if (impl_->joined) return true;
  {
    std::unique_lock lock(impl_->mutex);
    if (!impl_->ended_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return impl_->ended; })) {
      return false;
    }
  }
  impl_->Join();
  return true;
}

}  // namespace qov::platform
