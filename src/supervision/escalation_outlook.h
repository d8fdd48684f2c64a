// How many more failed check cycles until the checker asks for each reset,
// from its own counters and the configuration: what an operator asks first
// when the checks fail.
#pragma once

#include <cstdint>

#include "config/param_rec.h"

namespace qov::supervision {

struct CyclesLeft {
  // Failed cycles until the reset is asked for, the cycle that asks
  // included; kDisabled when the configuration never asks for it. Cycles
  // that fail while a repair settles are not counted, so these are the
  // fewest.
  static constexpr std::int32_t kDisabled = -1;
  std::int32_t modem = kDisabled;
  std::int32_t computer = kDisabled;
};

// `last_check_ok` is the outcome of the last cycle, `fail_counter` and
// `modem_reset_counter` the checker's escalation counters after it.
CyclesLeft CyclesBeforeResets(const config::TParamRec& p, bool last_check_ok, std::int32_t fail_counter,
                              std::int32_t modem_reset_counter);

}  // namespace qov::supervision
