#include "platform/thread.h"

#include <utility>

#include "platform/win32_handle.h"

namespace qov::platform {

struct Thread::Impl {
  std::function<void()> body;
  UniqueHandle handle;

  static DWORD WINAPI Entry(LPVOID arg) {
    static_cast<Impl*>(arg)->body();
    return 0;
  }
};

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
  impl_->body = std::move(body);
  impl_->handle.reset(::CreateThread(nullptr, 0, &Impl::Entry, impl_.get(), 0, nullptr));
}

Thread::~Thread() {
  if (impl_->handle) ::WaitForSingleObject(impl_->handle.get(), INFINITE);
}

bool Thread::WaitFor(std::uint32_t timeout_ms) {
  if (!impl_->handle) return true;
  return ::WaitForSingleObject(impl_->handle.get(), timeout_ms) != WAIT_TIMEOUT;
}

void Thread::Kill() {
  if (impl_->handle) ::TerminateThread(impl_->handle.get(), 0);
}

}  // namespace qov::platform
