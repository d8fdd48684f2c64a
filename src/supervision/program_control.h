// Keeps the supervised program running: looks for it by executable name and
// starts it as the console user when it is missing.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/log.h"
#include "config/param_rec.h"
#include "platform/user_process.h"

namespace qov::supervision {

// What a program-control step asks of the system.
class UserSession {
 public:
  virtual ~UserSession() = default;
  virtual std::vector<platform::ProcessEntry> Processes() = 0;
  virtual std::unique_ptr<platform::UserToken> ConsoleUserToken() = 0;
  virtual std::unique_ptr<platform::UserToken> ProcessUserToken(std::uint32_t pid) = 0;
  virtual platform::CreateResult StartProcessAsUser(platform::UserToken& token, const std::string& command_line) = 0;
};

// The real system.
UserSession& SystemUserSession();

// The file name (the text after the last '\' or ':') or the whole text equals
// `name`, ASCII letters compared without case. A name without an extension
// (no '.' in its file name) also matches either text without its extension.
bool ExeMatchesName(const std::string& exe, const std::string& name);

// True when a listed process matches `name`.
bool ProcessRunning(const std::vector<platform::ProcessEntry>& processes, const std::string& name);

// The first matching process's id, or 0.
std::uint32_t FindProcessId(const std::vector<platform::ProcessEntry>& processes, const std::string& name);

// Starts `command_line` with the console user's token, or with the token of
// the first process named `token_process` when none is delivered; never with
// the service's own token. Logs the creation error; true when started.
bool StartAsConsoleUser(UserSession& session, config::Log& log, const std::string& command_line,
                        const std::string& token_process);

class ProgramControl {
 public:
  ProgramControl(UserSession& session, config::Log& log, const config::TParamRec& params)
      : session_(session), log_(log), params_(params) {}

  // One step: nothing unless both name and command line are set. A stop
  // that comes while the processes are listed ends the step before anything
  // is started.
  void Step(const std::atomic<bool>& stop);

 private:
  UserSession& session_;
  config::Log& log_;
  const config::TParamRec& params_;
};

}  // namespace qov::supervision
