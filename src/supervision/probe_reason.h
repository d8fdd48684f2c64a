// The words a failed probe is logged with: one text per fault, the same on
// every system, so that a log reads alike whichever backend wrote it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/probe_outcome.h"

namespace qov::supervision {

// "" for kNone; `timeout_ms` is the probe's own time-out, given in seconds.
std::string ProbeReason(const platform::ProbeOutcome& outcome, std::uint32_t timeout_ms);

// The name Windows gives an IP_* status, or "" for a number it does not define.
std::string IpStatusName(std::uint32_t status);

}  // namespace qov::supervision
