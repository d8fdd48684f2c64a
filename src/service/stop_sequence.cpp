#include "service/stop_sequence.h"

namespace qov::service {

void StopInOrder(const std::vector<StopStep>& steps) {
  constexpr std::uint32_t kNoLimit = 0xFFFFFFFF;
  for (const StopStep& step : steps) {
    platform::Stoppable* t = step.thread();
    if (!t) continue;
    t->RequestTerminate();
    if (!t->WaitFor(step.limit_ms)) {
      t->Kill();
      t->WaitFor(kNoLimit);
    }
  }
}

}  // namespace qov::service
