#include <errno.h>
#include <pthread.h>
#include <string.h>
#include <time.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "platform/thread.h"

namespace qov::platform {

struct Thread::Impl {
  std::function<void()> body;
  pthread_t id{};
  bool joined = false;

  static void* Entry(void* arg) {
    static_cast<Impl*>(arg)->body();
    return nullptr;
  }
};

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
  impl_->body = std::move(body);
  const int rc = pthread_create(&impl_->id, nullptr, &Impl::Entry, impl_.get());
  if (rc != 0) throw std::runtime_error(std::string("pthread_create failed: ") + strerror(rc));
}

Thread::~Thread() {
  if (!impl_->joined) pthread_join(impl_->id, nullptr);
}

bool Thread::WaitFor(std::uint32_t timeout_ms) {
  if (impl_->joined) return true;
  // On the monotonic clock: a step of the wall clock during a stop must not
  // lengthen or cut its limits.
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  if (pthread_clockjoin_np(impl_->id, nullptr, CLOCK_MONOTONIC, &deadline) == 0) {
    impl_->joined = true;
    return true;
  }
  return false;
}

}  // namespace qov::platform
