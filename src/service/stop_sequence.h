// Takes worker threads down one after the other, each with its own limit.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/worker_thread.h"

namespace qov::service {

struct StopStep {
  // Asked at the thread's turn, since earlier threads may still create later
  // ones; null means the thread was never created.
  std::function<platform::Stoppable*()> thread;
  std::uint32_t limit_ms;
};

// For each thread in order: set its terminate request, wait for its end up
// to its limit, kill it when the limit passes and wait until the kill has
// taken effect. Freeing the objects is left to the caller, after the last
// step, so that no thread outlives an object it may still reach.
void StopInOrder(const std::vector<StopStep>& steps);

}  // namespace qov::service
