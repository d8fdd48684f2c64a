// Starting a detached program from a command line.
#pragma once

#include <string>

namespace qov::platform {

// Starts the program named by the first word of `command_line` with the
// service's environment and current directory, without waiting for it and
// without handle inheritance. True when the process was created.
bool StartProcess(const std::string& command_line);

}  // namespace qov::platform
