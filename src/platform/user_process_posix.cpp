#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/command_line.h"
#include "platform/posix_fd.h"
#include "platform/process.h"
#include "platform/user_process.h"

extern char** environ;

namespace qov::platform {
namespace {

// A user, by id: what a started program becomes.
class PosixToken final : public UserToken {
 public:
  explicit PosixToken(uid_t uid) : uid(uid) {}
  uid_t uid;
};

// The bare file name of the executable, as Windows lists processes.
std::string ExecutableOf(const std::string& pid) {
  char path[PATH_MAX];
  const ssize_t n = ::readlink(("/proc/" + pid + "/exe").c_str(), path, sizeof path - 1);
  if (n > 0) {
    const std::string full(path, static_cast<std::size_t>(n));
    return full.substr(full.find_last_of('/') + 1);
  }
  // No readable executable: another user's process (listed by its short
  // name) or a kernel thread (not a program; left out, as Windows does).
  std::ifstream cmdline("/proc/" + pid + "/cmdline");
  if (cmdline.peek() == std::ifstream::traits_type::eof()) return {};
  std::ifstream comm("/proc/" + pid + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

std::optional<uid_t> OwnerOf(std::uint32_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Uid:", 0) == 0) return static_cast<uid_t>(std::strtoul(line.c_str() + 4, nullptr, 10));
  }
  return std::nullopt;
}

}  // namespace

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> out;
  DIR* dir = ::opendir("/proc");
  if (!dir) return out;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    std::string exe = ExecutableOf(name);
    if (!exe.empty()) out.push_back({static_cast<std::uint32_t>(std::strtoul(name.c_str(), nullptr, 10)), std::move(exe)});
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end(), [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
  return out;
}

// The user of the active session on seat0, as logind knows it; nobody when
// no one is logged on there, and never root.
std::unique_ptr<UserToken> ConsoleUserToken() {
  uid_t uid = 0;
  if (sd_seat_get_active("seat0", nullptr, &uid) < 0 || uid == 0) return nullptr;
  return std::make_unique<PosixToken>(uid);
}

std::unique_ptr<UserToken> ProcessUserToken(std::uint32_t pid) {
  const auto owner = OwnerOf(pid);
  if (!owner) return nullptr;
  return std::make_unique<PosixToken>(*owner);
}

namespace {

// Everything the child needs, made before the fork: after it only
// async-signal-safe calls are allowed.
struct Launch {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::string home;
  std::string program;
  std::vector<std::string> words;
  std::vector<std::string> env;
};

// `name` itself when it holds a '/', else the first executable of that
// name on the user's search path.
std::optional<std::string> FindProgram(const std::string& name, const std::string& search_path) {
  if (name.find('/') != std::string::npos) return name;
  std::size_t from = 0;
  while (from <= search_path.size()) {
    const std::size_t to = std::min(search_path.find(':', from), search_path.size());
    const std::string candidate = search_path.substr(from, to - from) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    from = to + 1;
  }
  return std::nullopt;
}

// The user's identity and a login-like environment; an error code when the
// user or the program cannot be found.
int PrepareLaunch(uid_t uid, const std::string& command_line, Launch& out) {
  std::vector<char> buffer(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found) return ENOENT;
  out.uid = uid;
  out.gid = pw.pw_gid;
  out.home = pw.pw_dir ? pw.pw_dir : "/";
  int count = 64;
  out.groups.resize(static_cast<std::size_t>(count));
  if (getgrouplist(pw.pw_name, pw.pw_gid, out.groups.data(), &count) < 0) {
    out.groups.resize(static_cast<std::size_t>(count));
    getgrouplist(pw.pw_name, pw.pw_gid, out.groups.data(), &count);
  }
  out.groups.resize(static_cast<std::size_t>(std::max(count, 0)));

  const std::string search_path = "/usr/local/bin:/usr/bin:/bin";
  out.words = SplitCommandLine(command_line);
  if (out.words.empty()) return ENOENT;
  const auto program = FindProgram(out.words[0], search_path);
  if (!program) return ENOENT;
  out.program = *program;
  const std::string shell = pw.pw_shell && *pw.pw_shell ? pw.pw_shell : "/bin/sh";
  out.env = {"HOME=" + out.home, "USER=" + std::string(pw.pw_name), "LOGNAME=" + std::string(pw.pw_name),
             "SHELL=" + shell, "PATH=" + search_path};
  const std::string runtime_dir = "/run/user/" + std::to_string(uid);
  if (::access(runtime_dir.c_str(), X_OK) == 0) {
    out.env.push_back("XDG_RUNTIME_DIR=" + runtime_dir);
    out.env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime_dir + "/bus");
  }
  if (const char* lang = std::getenv("LANG")) out.env.push_back(std::string("LANG=") + lang);
  return 0;
}

// In the grandchild: become the user and run the program; reports errno on
// `report` when that fails. Async-signal-safe calls only.
[[noreturn]] void BecomeUserAndExec(const Launch& l, char* const argv[], char* const envp[], int report) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);  // the service's threads block its stop signals
  // Whatever the service ignores, the program starts with every default.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
  }
  const bool switch_user = ::geteuid() != l.uid;
  if (switch_user && (setgroups(l.groups.size(), l.groups.data()) != 0 || setgid(l.gid) != 0 || setuid(l.uid) != 0)) {
    const int e = errno;
    (void)!::write(report, &e, sizeof e);
    _exit(127);
  }
  if (::chdir(l.home.c_str()) != 0) (void)!::chdir("/");
  ::execve(l.program.c_str(), argv, envp);
  const int e = errno;
  (void)!::write(report, &e, sizeof e);
  _exit(127);
}

}  // namespace

CreateResult StartProcessAsUser(UserToken& token, const std::string& command_line) {
  const uid_t uid = static_cast<PosixToken&>(token).uid;
  // Never as root, and switching users needs root.
  if (uid == 0 || (::geteuid() != 0 && ::geteuid() != uid)) return {false, static_cast<std::uint32_t>(EPERM)};
  Launch l;
  if (const int e = PrepareLaunch(uid, command_line, l)) return {false, static_cast<std::uint32_t>(e)};
  std::vector<char*> argv, envp;
  for (auto& w : l.words) argv.push_back(w.data());
  argv.push_back(nullptr);
  for (auto& e : l.env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {false, static_cast<std::uint32_t>(errno)};
  UniqueFd report_read(fds[0]);
  UniqueFd report_write(fds[1]);
  // Two forks: the program is nobody's child here, in a session of its
  // own, and the service never has to reap it.
  const pid_t child = ::fork();
  if (child < 0) return {false, static_cast<std::uint32_t>(errno)};
  if (child == 0) {
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 127 : 0);
    BecomeUserAndExec(l, argv.data(), envp.data(), report_write.get());
  }
  report_write.reset();
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  // The pipe closes at the exec; an error code comes before that.
  ssize_t n = 0;
  while ((n = ::read(report_read.get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  if (n == static_cast<ssize_t>(sizeof error)) return {false, static_cast<std::uint32_t>(error)};
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) return {false, static_cast<std::uint32_t>(EAGAIN)};
  return {true, 0};
}

}  // namespace qov::platform
