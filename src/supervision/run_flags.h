// Run-time flags shared by the supervisor and the checker.
#pragma once

#include <atomic>

namespace qov::supervision {

struct RunFlags {
  // Set by the supervisor after the start-up delay or a successful dial;
  // cleared by the checker at every failed cycle.
  std::atomic<bool> connection_up{false};
  // Written by the supervisor only.
  std::atomic<bool> start_wait_done{false};
  std::atomic<bool> checker_started{false};
  // Written by the checker: outcome of the last check cycle.
  std::atomic<bool> last_check_ok{true};
};

}  // namespace qov::supervision
