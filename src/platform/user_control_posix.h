// The Linux daemon's door for the service's own control codes: a FIFO
// named "control" in the state folder, made 0600 by the daemon (root), in
// a folder it makes 0700, so only root can ask. One byte per code.
#pragma once

#include <string>

#include "platform/posix_fd.h"

namespace qov::platform {

std::string ControlFifoPath();

// Made afresh and opened for reading without blocking (and for writing, so
// it never reports an end while no sender has it open); an empty fd with
// `why` set when that fails.
UniqueFd OpenControlFifo(std::string& why);
// Removes the FIFO at the daemon's end, unless another daemon has made its own there since.
void RemoveControlFifo(const UniqueFd& fifo);

}  // namespace qov::platform
