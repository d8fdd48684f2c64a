#include <time.h>

#include "platform/clock.h"

namespace qov::platform {
namespace {

Tick MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Tick>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class PosixClock final : public Clock {
 public:
  Tick NowMs() override { return MonotonicMs(); }
  bool WaitUntil(Tick deadline, WakeEvent& wake) override { return WaitUntilOnSystemTime(MonotonicMs, deadline, wake); }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace qov::platform
