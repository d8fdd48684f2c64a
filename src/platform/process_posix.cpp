#include <spawn.h>
#include <sys/wait.h>

#include <signal.h>
#include <vector>

#include "platform/command_line.h"
#include "platform/process.h"

extern char** environ;

namespace qov::platform {
namespace {

// Children are not waited for; let the kernel reap them.
void IgnoreChildExits() {
  static const bool once = [] {
    struct sigaction sa {};
    sa.sa_handler = SIG_IGN;
    sa.sa_flags = SA_NOCLDWAIT;
    sigaction(SIGCHLD, &sa, nullptr);
    return true;
  }();
  (void)once;
}

}  // namespace

bool StartProcess(const std::string& command_line) {
  // Words are split as on Windows and passed as arguments; no shell sees them.
  std::vector<std::string> words = SplitCommandLine(command_line);
  if (words.empty()) return false;
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  IgnoreChildExits();
  pid_t pid = 0;
  return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
}

}  // namespace qov::platform
