#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/command_line.h"
#include "platform/posix_fd.h"
#include "platform/process.h"
#include "platform/session_user_posix.h"
#include "platform/systemd_library_posix.h"
#include "platform/systemd_notify_posix.h"
#include "platform/user_process.h"

extern char** environ;

namespace qov::platform {
namespace {

// A user, by id, with the session's display: what a started program
// becomes.
class PosixToken final : public UserToken {
 public:
  explicit PosixToken(SessionUser user) : user(std::move(user)) {}
  SessionUser user;
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

namespace {

// Frees what sd-login hands out.
struct SdString {
  char* text = nullptr;
  ~SdString() { std::free(text); }
  std::string value() const { return text ? text : ""; }
};

std::optional<SeatSession> ActiveSeatSession() {
  const SystemdFunctions* systemd = Systemd();
  SdString session;
  uid_t uid = 0;
  if (!systemd || systemd->seat_get_active("seat0", &session.text, &uid) < 0 || !session.text) return std::nullopt;
  SeatSession s;
  s.id = session.value();
  s.uid = uid;
  SdString session_class, type, display;
  if (systemd->session_get_class(session.text, &session_class.text) >= 0) s.session_class = session_class.value();
  if (systemd->session_get_type(session.text, &type.text) >= 0) s.type = type.value();
  if (systemd->session_get_display(session.text, &display.text) >= 0) s.display = display.value();
  return s;
}

std::vector<std::string> EnvironmentOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
  std::vector<std::string> env;
  std::string entry;
  while (std::getline(in, entry, '\0')) {
    if (!entry.empty()) env.push_back(entry);
  }
  return env;
}

// The session's leader from logind's record of it (this libsystemd has no
// call for it); 0 when unknown.
pid_t SessionLeader(const std::string& session) {
  if (session.empty() || session.find('/') != std::string::npos) return 0;
  std::ifstream record("/run/systemd/sessions/" + session);
  std::string line;
  while (std::getline(record, line)) {
    if (line.rfind("LEADER=", 0) == 0) return static_cast<pid_t>(std::strtol(line.c_str() + 7, nullptr, 10));
  }
  return 0;
}

bool InSession(pid_t pid, const std::string& session) {
  const SystemdFunctions* systemd = Systemd();
  SdString of;
  return systemd && systemd->pid_get_session(pid, &of.text) >= 0 && of.value() == session;
}

// The environments of the session's processes that belong to its user,
// the leader's first.
std::vector<std::vector<std::string>> SessionEnvironments(const SeatSession& s) {
  std::vector<std::vector<std::string>> out;
  const pid_t leader = SessionLeader(s.id);
  if (leader > 0) out.push_back(EnvironmentOf(leader));
  for (const ProcessEntry& p : ListProcesses()) {
    const auto pid = static_cast<pid_t>(p.pid);
    if (pid == leader || OwnerOf(p.pid) != s.uid || !InSession(pid, s.id)) continue;
    out.push_back(EnvironmentOf(pid));
  }
  return out;
}

uid_t SystemUidMin() {
  std::ifstream defs("/etc/login.defs");
  return ParseUidMin(defs);
}

}  // namespace

// The user of the active graphical session on seat0, as logind knows it,
// with that session's display; nobody at a greeter, on a text console, or
// when only root or a system account is there.
std::unique_ptr<UserToken> ConsoleUserToken() {
  SessionFacts facts;
  facts.active = ActiveSeatSession();
  if (!facts.active) return nullptr;
  facts.uid_min = SystemUidMin();
  // A cheap refusal first: the environments are read only for a session
  // that qualifies.
  if (!ChooseSessionUser(facts)) return nullptr;
  facts.environments = SessionEnvironments(*facts.active);
  facts.runtime_dir_exists = ::access(("/run/user/" + std::to_string(facts.active->uid)).c_str(), X_OK) == 0;
  auto user = ChooseSessionUser(facts);
  if (!user) return nullptr;
  return MakeUserToken(std::move(*user));
}

// Only the seat's session says who the user is here: any local user could
// run a process of the token process's name.
std::unique_ptr<UserToken> ProcessUserToken(std::uint32_t) { return nullptr; }

std::unique_ptr<UserToken> MakeUserToken(SessionUser user) { return std::make_unique<PosixToken>(std::move(user)); }

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

const char kSearchPath[] = "/usr/local/bin:/usr/bin:/bin";

// The user's identity and a login-like environment with the session's
// display; an error code when the user or the program cannot be found.
int PrepareLaunch(const SessionUser& user, const std::string& command_line, Launch& out) {
  std::vector<char> buffer(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(user.uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found) return ENOENT;
  out.uid = user.uid;
  out.gid = pw.pw_gid;
  out.home = pw.pw_dir ? pw.pw_dir : "/";
  int count = 64;
  out.groups.resize(static_cast<std::size_t>(count));
  if (getgrouplist(pw.pw_name, pw.pw_gid, out.groups.data(), &count) < 0) {
    out.groups.resize(static_cast<std::size_t>(count));
    getgrouplist(pw.pw_name, pw.pw_gid, out.groups.data(), &count);
  }
  out.groups.resize(static_cast<std::size_t>(std::max(count, 0)));

  out.words = SplitCommandLine(command_line);
  if (out.words.empty()) return ENOENT;
  const auto program = FindProgram(out.words[0], kSearchPath);
  if (!program) return ENOENT;
  out.program = *program;
  const std::string shell = pw.pw_shell && *pw.pw_shell ? pw.pw_shell : "/bin/sh";
  out.env = {"HOME=" + out.home, "USER=" + std::string(pw.pw_name), "LOGNAME=" + std::string(pw.pw_name),
             "SHELL=" + shell, std::string("PATH=") + kSearchPath};
  out.env.insert(out.env.end(), user.env.begin(), user.env.end());
  if (const char* lang = std::getenv("LANG")) out.env.push_back(std::string("LANG=") + lang);
  return 0;
}

// In a child: whatever the service blocks or ignores, the next program
// starts with every default. Async-signal-safe calls only.
void ResetSignals() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);  // the service's threads block its stop signals
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
  }
}

[[noreturn]] void ReportAndExit(int report, int error) {
  (void)!::write(report, &error, sizeof error);
  _exit(127);
}

// In the grandchild: become the user and run the program; reports errno on
// `report` when that fails. Async-signal-safe calls only.
[[noreturn]] void BecomeUserAndExec(const Launch& l, char* const argv[], char* const envp[], int report) {
  ResetSignals();
  const bool switch_user = ::geteuid() != l.uid;
  if (switch_user && (setgroups(l.groups.size(), l.groups.data()) != 0 || setgid(l.gid) != 0 || setuid(l.uid) != 0)) {
    ReportAndExit(report, errno);
  }
  if (::chdir(l.home.c_str()) != 0) (void)!::chdir("/");
  ::execve(l.program.c_str(), argv, envp);
  ReportAndExit(report, errno);
}

// In the child: runs systemd-run and waits for it, which returns once the
// program's unit has started; reports its failure (exec errno, else its
// exit status) on `report`. Async-signal-safe calls only.
[[noreturn]] void RunSystemdRun(const char* path, char* const argv[], int report) {
  ResetSignals();  // also lets this child wait for its own
  const pid_t run = ::fork();
  if (run < 0) ReportAndExit(report, errno);
  if (run == 0) {
    (void)!::chdir("/");
    ::execve(path, argv, environ);
    ReportAndExit(report, errno);
  }
  int status = 0;
  while (::waitpid(run, &status, 0) < 0) {
    if (errno != EINTR) ReportAndExit(report, errno);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) _exit(0);
  ReportAndExit(report, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

// A unit name not taken by an earlier start, of this run or a former one.
std::string NextUnitName() {
  static std::atomic<unsigned> count{0};
  return "qov-program-" + std::to_string(::time(nullptr)) + "-" + std::to_string(::getpid()) + "-" +
         std::to_string(++count);
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (auto& t : texts) out.push_back(t.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

CreateResult StartProcessAsUser(UserToken& token, const std::string& command_line) {
  // Under systemd a child of the service would die with the service's
  // control group; systemd-run puts the program in a unit of its own.
  std::optional<std::string> systemd_run;
  if (SystemdBooted()) systemd_run = FindProgram("systemd-run", kSearchPath);
  return StartProcessAsUserVia(token, command_line, systemd_run);
}

CreateResult StartProcessAsUserVia(UserToken& token, const std::string& command_line,
                                   const std::optional<std::string>& systemd_run) {
  const SessionUser& user = static_cast<PosixToken&>(token).user;
  // Never as root, and switching users needs root.
  if (user.uid == 0 || (::geteuid() != 0 && ::geteuid() != user.uid)) {
    return {false, static_cast<std::uint32_t>(EPERM)};
  }
  Launch l;
  if (const int e = PrepareLaunch(user, command_line, l)) return {false, static_cast<std::uint32_t>(e)};
  std::vector<std::string> run_args;
  if (systemd_run) {
    std::vector<std::string> words = l.words;
    words[0] = l.program;
    run_args = SystemdRunArguments({l.uid, l.gid, NextUnitName(), l.home, l.env, std::move(words)});
  }
  std::vector<char*> argv = Pointers(l.words);
  std::vector<char*> envp = Pointers(l.env);
  std::vector<char*> run_argv = Pointers(run_args);

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
    if (systemd_run) RunSystemdRun(systemd_run->c_str(), run_argv.data(), report_write.get());
    const pid_t grandchild = ::fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 127 : 0);
    BecomeUserAndExec(l, argv.data(), envp.data(), report_write.get());
  }
  report_write.reset();
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  // The pipe closes at the exec (or the end of systemd-run's child); an
  // error code comes before that.
  ssize_t n = 0;
  while ((n = ::read(report_read.get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  if (n == static_cast<ssize_t>(sizeof error)) return {false, static_cast<std::uint32_t>(error)};
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) return {false, static_cast<std::uint32_t>(EAGAIN)};
  return {true, 0};
}

}  // namespace qov::platform
