// A flag under a mutex and a condition on CLOCK_MONOTONIC, so that a step of
// the wall clock neither lengthens nor cuts a wait.
#include <errno.h>
#include <pthread.h>
#include <time.h>

#include "platform/wake_event.h"

namespace qov::platform {

struct WakeEvent::Impl {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond;
  bool signalled = false;

  Impl() {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&cond, &attr);
    pthread_condattr_destroy(&attr);
  }
  ~Impl() {
    pthread_cond_destroy(&cond);
    pthread_mutex_destroy(&mutex);
  }
};

WakeEvent::WakeEvent() : impl_(std::make_unique<Impl>()) {}
WakeEvent::~WakeEvent() = default;

void WakeEvent::Signal() {
  pthread_mutex_lock(&impl_->mutex);
  impl_->signalled = true;
  pthread_cond_signal(&impl_->cond);
  pthread_mutex_unlock(&impl_->mutex);
}

bool WakeEvent::TryTake() {
  pthread_mutex_lock(&impl_->mutex);
  const bool taken = impl_->signalled;
  impl_->signalled = false;
  pthread_mutex_unlock(&impl_->mutex);
  return taken;
}

bool WakeEvent::Wait(std::uint32_t timeout_ms) {
  if (timeout_ms == 0) return TryTake();
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  end.tv_sec += static_cast<time_t>(timeout_ms / 1000);
  end.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (end.tv_nsec >= 1000000000L) {
    end.tv_sec += 1;
    end.tv_nsec -= 1000000000L;
  }
  pthread_mutex_lock(&impl_->mutex);
  while (!impl_->signalled) {
    const int rc = timeout_ms == kForever ? pthread_cond_wait(&impl_->cond, &impl_->mutex)
                                          : pthread_cond_timedwait(&impl_->cond, &impl_->mutex, &end);
    if (rc != 0 && rc != EINTR) break;  // ETIMEDOUT
  }
  const bool taken = impl_->signalled;
  impl_->signalled = false;
  pthread_mutex_unlock(&impl_->mutex);
  return taken;
}

}  // namespace qov::platform
