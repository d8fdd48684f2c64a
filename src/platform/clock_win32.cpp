#include "platform/clock.h"
#include "platform/win32.h"

namespace qov::platform {
namespace {

Tick TickMs() { return static_cast<Tick>(::GetTickCount64()); }

class Win32Clock final : public Clock {
 public:
  Tick NowMs() override { return TickMs(); }
  bool WaitUntil(Tick deadline, WakeEvent& wake) override { return WaitUntilOnSystemTime(TickMs, deadline, wake); }
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace qov::platform
