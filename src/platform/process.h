// Starting a detached program from a command line.
#pragma once

#include <memory>
#include <string>

namespace qov::platform {

// Starts the program named by the first word of `command_line` with the
// service's environment and current directory, without waiting for it and
// without handle inheritance. True when the process was created.
bool StartProcess(const std::string& command_line);

// A started program whose end can be watched; freeing it releases the
// handle, never the program.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  // True while the program runs.
  virtual bool Running() = 0;
};

// As StartProcess, keeping a handle on the process; null when it could not
// be created.
std::unique_ptr<ChildProcess> StartWatchedProcess(const std::string& command_line);

}  // namespace qov::platform
