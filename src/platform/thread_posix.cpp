#include "platform/thread.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

#include <utility>

namespace qov::platform {

struct Thread::Impl {
  std::function<void()> body;
  pthread_t id{};
  bool started = false;
  bool joined = false;

  static void* Entry(void* arg) {
    static_cast<Impl*>(arg)->body();
    return nullptr;
  }
};

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
  impl_->body = std::move(body);
  impl_->started = pthread_create(&impl_->id, nullptr, &Impl::Entry, impl_.get()) == 0;
}

Thread::~Thread() {
  if (impl_->started && !impl_->joined) pthread_join(impl_->id, nullptr);
}

bool Thread::WaitFor(std::uint32_t timeout_ms) {
  if (!impl_->started || impl_->joined) return true;
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  if (pthread_timedjoin_np(impl_->id, nullptr, &deadline) == 0) {
    impl_->joined = true;
    return true;
  }
  return false;
}

void Thread::Kill() {
  if (impl_->started && !impl_->joined) pthread_cancel(impl_->id);
}

}  // namespace qov::platform
