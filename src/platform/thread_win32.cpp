#include <stdexcept>
#include <string>
#include <utility>

#include "platform/thread.h"
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
  if (!impl_->handle) {
    throw std::runtime_error("CreateThread failed, GetLastError = " + std::to_string(::GetLastError()));
  }
}

Thread::~Thread() { ::WaitForSingleObject(impl_->handle.get(), INFINITE); }

bool Thread::WaitFor(std::uint32_t timeout_ms) {
  return ::WaitForSingleObject(impl_->handle.get(), timeout_ms) != WAIT_TIMEOUT;
}

}  // namespace qov::platform
