// A flag under a mutex and a condition on CLOCK_MONOTONIC, so that a step of
// the wall clock neither lengthens nor cuts a wait. An eventfd mirrors the
// flag once someone needs to poll for it.
#include <errno.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "platform/wake_event.h"

namespace qov::platform {

struct WakeEvent::Impl {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond;
  bool signalled = false;
  int fd = -1;  // readable exactly while `signalled`; -1 until asked for

  // Under the mutex.
  void Set() {
    signalled = true;
    if (fd >= 0) {
      const std::uint64_t one = 1;
      (void)::write(fd, &one, sizeof one);
    }
  }
  bool Take() {
    const bool taken = signalled;
    signalled = false;
    if (taken && fd >= 0) {
      std::uint64_t count = 0;
      (void)::read(fd, &count, sizeof count);
    }
    return taken;
  }

  Impl() {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&cond, &attr);
    pthread_condattr_destroy(&attr);
  }
  ~Impl() {
    if (fd >= 0) ::close(fd);
    pthread_cond_destroy(&cond);
    pthread_mutex_destroy(&mutex);
  }
};

WakeEvent::WakeEvent() : impl_(std::make_unique<Impl>()) {}
WakeEvent::~WakeEvent() = default;

void WakeEvent::Signal() {
  pthread_mutex_lock(&impl_->mutex);
  impl_->Set();
  pthread_cond_signal(&impl_->cond);
  pthread_mutex_unlock(&impl_->mutex);
}

bool WakeEvent::TryTake() {
  pthread_mutex_lock(&impl_->mutex);
  const bool taken = impl_->Take();
  pthread_mutex_unlock(&impl_->mutex);
  return taken;
}

int WakeEvent::ReadableFd() {
  pthread_mutex_lock(&impl_->mutex);
  if (impl_->fd < 0) {
    impl_->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl_->fd >= 0 && impl_->signalled) {
      impl_->signalled = false;
      impl_->Set();
    }
  }
  const int fd = impl_->fd;
  pthread_mutex_unlock(&impl_->mutex);
  return fd;
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
  const bool taken = impl_->Take();
  pthread_mutex_unlock(&impl_->mutex);
  return taken;
}

}  // namespace qov::platform
