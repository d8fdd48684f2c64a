#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>
#include <vector>

#include "platform/posix_fd.h"

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

// Children are reaped by the kernel, so a pid alone could be reused: a
// pidfd names the process itself and turns readable when it ends.
class PosixChildProcess final : public ChildProcess {
 public:
  explicit PosixChildProcess(pid_t pid) : pidfd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))), pid_(pid) {}
  bool Running() override {
    if (!pidfd_) return ::kill(pid_, 0) == 0;  // ended already, or a kernel without pidfds
    pollfd p{pidfd_.get(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
  }

 private:
  UniqueFd pidfd_;
  pid_t pid_;
};

// The service blocks its stop signals and ignores some others, and a child
// would inherit both: a dial program that cannot be stopped or told of a
// hang-up. Each child starts with nothing blocked and every disposition at
// its default.
class CleanSignals {
 public:
  CleanSignals() {
    initialised_ = ::posix_spawnattr_init(&attr_) == 0;
    if (!initialised_) return;
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigemptyset(&all);
    for (int sig = 1; sig < NSIG; ++sig) {
      // The C library refuses its own internal signals here; that is fine.
      if (sig != SIGKILL && sig != SIGSTOP) sigaddset(&all, sig);
    }
    ok_ = ::posix_spawnattr_setsigmask(&attr_, &none) == 0 && ::posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
          ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
  }
  ~CleanSignals() {
    if (initialised_) ::posix_spawnattr_destroy(&attr_);
  }
  CleanSignals(const CleanSignals&) = delete;
  CleanSignals& operator=(const CleanSignals&) = delete;
  const posix_spawnattr_t* get() const { return ok_ ? &attr_ : nullptr; }

 private:
  posix_spawnattr_t attr_{};
  bool initialised_ = false;
  bool ok_ = false;
};

bool Spawn(const std::string& command_line, pid_t& pid) {
  // Words are split as on Windows and passed as arguments; no shell sees them.
  std::vector<std::string> words = SplitCommandLine(command_line);
  if (words.empty()) return false;
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  IgnoreChildExits();
  const CleanSignals signals;
  if (!signals.get()) return false;
  return posix_spawnp(&pid, argv[0], nullptr, signals.get(), argv.data(), environ) == 0;
}

}  // namespace

bool StartProcess(const std::string& command_line) {
  pid_t pid = 0;
  return Spawn(command_line, pid);
}

std::unique_ptr<ChildProcess> StartWatchedProcess(const std::string& command_line) {
  pid_t pid = 0;
  if (!Spawn(command_line, pid)) return nullptr;
  return std::make_unique<PosixChildProcess>(pid);
}

}  // namespace qov::platform
