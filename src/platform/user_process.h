// The process list and starting a program as the interactive user.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qov::platform {

struct ProcessEntry {
  std::uint32_t pid;
  // The executable's bare file name, as the system lists it.
  std::string exe;
};

// Running processes in the system's order; empty when no list can be had.
std::vector<ProcessEntry> ListProcesses();

// A user's primary token, closed when the object goes.
class UserToken {
 public:
  virtual ~UserToken() = default;
};

// The token of the user at the active console session; null when the
// session functions are missing or no token is delivered.
std::unique_ptr<UserToken> ConsoleUserToken();

// The token of a running process (opened for query and read-control, token
// opened with every right but session adjustment); null when refused.
std::unique_ptr<UserToken> ProcessUserToken(std::uint32_t pid);

struct CreateResult {
  bool created;
  std::uint32_t error;  // the system's last-error code when not created
};

// Starts `command_line` as the token's user, not waiting for it; the new
// process's handles are closed at once. `token` must come from this backend.
CreateResult StartProcessAsUser(UserToken& token, const std::string& command_line);

}  // namespace qov::platform
