#include <time.h>

#include "platform/clock.h"

namespace qov::platform {
namespace {

class PosixClock final : public Clock {
 public:
  Tick NowMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Tick>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }
  void SleepMs(std::uint32_t ms) override {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace qov::platform
