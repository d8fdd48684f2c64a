#include "service/stop_sequence.h"

namespace qov::service {

bool StopInOrder(const std::vector<StopStep>& steps, const std::function<void(std::uint32_t limit_ms)>& on_step) {
  bool all_ended = true;
  for (const StopStep& step : steps) {
    if (on_step) on_step(step.limit_ms);
    platform::Stoppable* t = step.thread();
    if (!t) continue;
    t->RequestTerminate();
    if (!t->WaitFor(step.limit_ms)) all_ended = false;
  }
  return all_ended;
}

}  // namespace qov::service
