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

// For each thread in order: report progress with the step's limit, set its
// terminate request and wait for its end up to its limit. A thread that is
// still running then is left behind (never killed) and the next step goes
// on. True when every thread that existed has ended; freeing the objects is
// left to the caller, who must not free what a thread left behind can reach.
bool StopInOrder(const std::vector<StopStep>& steps,
                 const std::function<void(std::uint32_t limit_ms)>& on_step = nullptr);

}  // namespace qov::service
