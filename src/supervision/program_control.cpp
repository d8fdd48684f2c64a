#include "supervision/program_control.h"

#include "platform/text.h"

namespace qov::supervision {
namespace {

class SystemSession final : public UserSession {
 public:
  std::vector<platform::ProcessEntry> Processes() override { return platform::ListProcesses(); }
  std::unique_ptr<platform::UserToken> ConsoleUserToken() override { return platform::ConsoleUserToken(); }
  std::unique_ptr<platform::UserToken> ProcessUserToken(std::uint32_t pid) override {
    return platform::ProcessUserToken(pid);
  }
  platform::CreateResult StartProcessAsUser(platform::UserToken& token, const std::string& command_line) override {
    return platform::StartProcessAsUser(token, command_line);
  }
};

std::size_t FileNameStart(const std::string& text) {
  const std::size_t sep = text.find_last_of("\\:");
  return sep == std::string::npos ? 0 : sep + 1;
}

std::string FileNamePart(const std::string& exe) { return exe.substr(FileNameStart(exe)); }

// The position of the extension's dot in the file-name part, or npos.
std::size_t ExtensionDot(const std::string& text) {
  const std::size_t dot = text.rfind('.');
  return dot != std::string::npos && dot >= FileNameStart(text) ? dot : std::string::npos;
}

std::string WithoutExtension(const std::string& text) { return text.substr(0, ExtensionDot(text)); }

}  // namespace

UserSession& SystemUserSession() {
  static SystemSession session;
  return session;
}

bool ExeMatchesName(const std::string& exe, const std::string& name) {
  using platform::EqualsIgnoringCase;
  if (EqualsIgnoringCase(FileNamePart(exe), name) || EqualsIgnoringCase(exe, name)) return true;
  // "telemetry" stands for "telemetry.exe": a name without an extension is
  // also compared with the listed names without theirs.
  if (ExtensionDot(name) != std::string::npos) return false;
  return EqualsIgnoringCase(WithoutExtension(FileNamePart(exe)), name) || EqualsIgnoringCase(WithoutExtension(exe), name);
}

namespace {

const platform::ProcessEntry* FirstMatch(const std::vector<platform::ProcessEntry>& processes,
                                         const std::string& name) {
  for (const auto& p : processes) {
    if (ExeMatchesName(p.exe, name)) return &p;
  }
  return nullptr;
}

}  // namespace

bool ProcessRunning(const std::vector<platform::ProcessEntry>& processes, const std::string& name) {
  return FirstMatch(processes, name) != nullptr;
}

std::uint32_t FindProcessId(const std::vector<platform::ProcessEntry>& processes, const std::string& name) {
  const platform::ProcessEntry* p = FirstMatch(processes, name);
  return p ? p->pid : 0;
}

bool StartAsConsoleUser(UserSession& session, config::Log& log, const std::string& command_line,
                        const std::string& token_process) {
  std::unique_ptr<platform::UserToken> token = session.ConsoleUserToken();
  if (!token) {
    // No console token (functions missing, or nobody at the console):
    // borrow the token of the named process instead.
    const std::uint32_t pid = FindProcessId(session.Processes(), token_process);
    if (pid != 0) token = session.ProcessUserToken(pid);
  }
  if (!token) return false;
  const platform::CreateResult r = session.StartProcessAsUser(*token, command_line);
  if (!r.created) log.Write("CreateProcessAsUser fail, GetLastError = " + std::to_string(r.error));
  return r.created;
}

void ProgramControl::Step(const std::atomic<bool>& stop) {
  const std::string& name = params_.program_ctrl_process_name;
  const std::string& command_line = params_.program_ctrl_command_line;
  if (name.empty() || command_line.empty()) return;
  const bool running = ProcessRunning(session_.Processes(), name);
  if (stop.load(std::memory_order_acquire)) return;
  if (running) {
    log_.Write("check process ok");
    return;
  }
  log_.Write("check process fail");
  const bool started = StartAsConsoleUser(session_, log_, command_line, params_.program_ctrl_token_process);
  log_.Write(started ? "start process ok" : "start process fail");
}

}  // namespace qov::supervision
