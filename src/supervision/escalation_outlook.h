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

// `counting` says a failure has been counted since the last passing cycle;
// `fail_counter` and `modem_reset_counter` are the checker's escalation
// counters after the last cycle.
CyclesLeft CyclesBeforeResets(const config::TParamRec& p, bool counting, std::int32_t fail_counter,
                              std::int32_t modem_reset_counter);

}  // namespace qov::supervision
