#include "supervision/escalation_outlook.h"

#include <algorithm>
#include <limits>

namespace qov::supervision {

CyclesLeft CyclesBeforeResets(const config::TParamRec& p, bool counting, std::int32_t fail_counter,
                              std::int32_t modem_reset_counter) {
  // The first counted failure after a pass counts 0, each later one adds 1;
  // the failure that brings the count to check_fail_loop_count escalates
  // and starts it again from 0.
  const std::int64_t loop = p.check_fail_loop_count;
  const std::int64_t counted = counting ? fail_counter : -1;
  const std::int64_t to_first = std::max<std::int64_t>(1, loop - counted);
  // After an escalation the count runs from 1 again.
  const std::int64_t between = std::max<std::int64_t>(1, loop);
  const auto bounded = [](std::int64_t v) {
    return static_cast<std::int32_t>(std::min<std::int64_t>(v, std::numeric_limits<std::int32_t>::max()));
  };

  CyclesLeft left;
  if (p.reset_modem) {
    left.modem = bounded(to_first);
    if (p.reset_comp) {
      // The modem reset that takes the counter past
      // check_fail_loop_count_before_reset_comp asks for the computer's in
      // the same cycle.
      const std::int64_t more = std::max<std::int64_t>(
          0, std::int64_t{p.check_fail_loop_count_before_reset_comp} - std::max(0, modem_reset_counter));
      left.computer = bounded(to_first + more * between);
    }
  } else if (p.reset_comp) {
    left.computer = bounded(to_first);
  }
  // A counter already past the allowance (a negative one) asks for the
  // computer's reset at the next counted failure.
  if (p.reset_comp && modem_reset_counter > p.check_fail_loop_count_before_reset_comp) left.computer = 1;
  return left;
}

}  // namespace qov::supervision
