#include "platform/clock.h"
#include "platform/win32.h"

namespace qov::platform {
namespace {

class Win32Clock final : public Clock {
 public:
  Tick NowMs() override { return static_cast<Tick>(::GetTickCount64()); }
  void SleepMs(std::uint32_t ms) override { ::Sleep(ms); }
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace qov::platform
