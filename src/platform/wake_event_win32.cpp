// An auto-reset event object: a wait takes the signal as it returns.
#include "platform/wake_event.h"
#include "platform/win32.h"
#include "platform/win32_handle.h"

namespace qov::platform {

struct WakeEvent::Impl {
  UniqueHandle event{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
};

WakeEvent::WakeEvent() : impl_(std::make_unique<Impl>()) {}
WakeEvent::~WakeEvent() = default;

void WakeEvent::Signal() {
  if (impl_->event) ::SetEvent(impl_->event.get());
}

bool WakeEvent::TryTake() { return Wait(0); }

bool WakeEvent::Wait(std::uint32_t timeout_ms) {
  // Without an event (the system refused one) a wait is a plain sleep.
  if (!impl_->event) {
    if (timeout_ms != 0) ::Sleep(timeout_ms == kForever ? INFINITE : timeout_ms);
    return false;
  }
  const DWORD limit = timeout_ms == kForever ? INFINITE : static_cast<DWORD>(timeout_ms);
  return ::WaitForSingleObject(impl_->event.get(), limit) == WAIT_OBJECT_0;
}

}  // namespace qov::platform
