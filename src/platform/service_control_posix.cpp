// Linux: the service runs as a daemon in the foreground, under systemd or
// from a terminal. The "dispatcher" starts the service at once and turns
// SIGINT and SIGTERM into the stop control (SIGHUP is ignored); status
// reports become sd_notify messages (READY, STOPPING, the stop's time
// extensions), a no-op outside systemd. Installing writes a systemd unit.
// Boxes and event-log entries go to stderr, which systemd keeps in the journal.
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/journal_fields.h"
#include "platform/posix_fd.h"
#include "platform/memory_control_queue.h"
#include "platform/service_control.h"
#include "platform/service_control_posix.h"
#include "platform/systemd_library_posix.h"
#include "platform/systemd_notify_posix.h"
#include "platform/systemd_unit.h"
#include "platform/text.h"
#include "platform/user_control_posix.h"

extern char** environ;

namespace qov::platform {
namespace {

constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

constexpr std::uint32_t kStopControl = 1;
constexpr std::uint32_t kShutdownControl = 5;
constexpr std::uint32_t kStateStopPending = 3;
constexpr std::uint32_t kStateRunning = 4;
// SIGINT and SIGTERM ask for the stop; the dispatcher reads them from a signalfd.
sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// Where the unit file goes; QOV_SYSTEMD_UNIT_DIR moves it (tests, staging).
std::string UnitDir() {
  const char* dir = std::getenv("QOV_SYSTEMD_UNIT_DIR");
  return dir && *dir ? dir : kSystemdUnitDir;
}
std::string UnitPath(const std::string& name) { return UnitDir() + "/" + name + ".service"; }

// Runs `argv` and waits for it; its exit status, or -1 when it could not run.
int RunAndWait(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// systemctl, only where systemd runs the machine (a build host or a
// container without it just gets the file).
void Systemctl(const std::string& verb, const std::string& name = "") {
  if (!SystemdBooted() || std::getenv("QOV_SYSTEMD_UNIT_DIR")) return;
  std::vector<std::string> argv = {"systemctl", verb};
  if (!name.empty()) argv.push_back(name);
  RunAndWait(argv);
}

class UnitFile final : public ServiceHandle {
 public:
  explicit UnitFile(std::string name) : name_(std::move(name)) {}
  bool Delete(std::uint32_t& error) override {
    Systemctl("disable", name_ + ".service");
    if (::unlink(UnitPath(name_).c_str()) != 0) {
      error = static_cast<std::uint32_t>(errno);
      return false;
    }
    Systemctl("daemon-reload");
    return true;
  }
  // The unit file's own Restart= lines restart the daemon under systemd.
  bool SetRecoveryActions(const RecoveryActions&, std::uint32_t&) override { return true; }

 private:
  std::string name_;
};

// The systemd side of installing: one unit file per service.
class SystemdUnits final : public ScmConnection {
 public:
  std::unique_ptr<ServiceHandle> Create(const ServiceConfig& config, std::uint32_t&, std::uint32_t& error) override {
    // Created exclusively: an existing unit (installed already) or anything
    // planted at its name is never written through.
    const std::string path = UnitPath(config.name);
    errno = 0;
    if (CreateNewFile(path, SystemdUnitText(config.display_name, config.binary_path), kPublicFileMode)) {
      error = errno ? static_cast<std::uint32_t>(errno) : EIO;  // the POSIX CreateNewFile leaves its cause there
      return nullptr;
    }
    Systemctl("daemon-reload");
    Systemctl("enable", config.name + ".service");
    return std::make_unique<UnitFile>(config.name);
  }

  std::unique_ptr<ServiceHandle> Open(const std::string& name, std::uint32_t& error) override {
    struct stat st{};
    if (::stat(UnitPath(name).c_str(), &st) != 0) {
      error = static_cast<std::uint32_t>(errno);
      return nullptr;
    }
    return std::make_unique<UnitFile>(name);
  }
};

// Made on the main thread before any other thread exists, it blocks the stop
// signals there, so that every later thread inherits the mask and only the
// dispatcher's signalfd takes them.
class PosixMessageLoop final : public MessageLoop {
 public:
  PosixMessageLoop() {
    const sigset_t stop = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stop, &previous_);
  }
  ~PosixMessageLoop() override { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

  void Run() override {
    std::unique_lock lock(mutex_);
    quit_cv_.wait(lock, [this] { return quit_; });
  }
  void Quit() override {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    quit_cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable quit_cv_;
  bool quit_ = false;
  sigset_t previous_;
};

// Errors of the host go to stderr (the journal takes it under systemd);
// events go to the journal with their fields when it runs, else to stderr.
class StderrEventSource final : public EventSource {
 public:
  explicit StderrEventSource(std::string name) : name_(std::move(name)) {}
  void ReportError(const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", name_.c_str(), text.c_str());
    std::fflush(stderr);
  }
  void Report(const EventRecord& e) override {
    if (::access(kJournalSocket, F_OK) == 0) {
      const std::vector<std::string> fields = JournalFields(e, name_);
      std::vector<iovec> parts;
      for (const auto& f : fields) parts.push_back({const_cast<char*>(f.data()), f.size()});
      const SystemdFunctions* systemd = Systemd();
      if (systemd && systemd->journal_sendv(parts.data(), static_cast<int>(parts.size())) >= 0) return;
    }
    const char* level = e.type == EventType::Error ? "error" : e.type == EventType::Warning ? "warning" : "information";
    std::fprintf(stderr, "%s: event %u (%s): %s\n", name_.c_str(), static_cast<unsigned>(e.id), level, e.text.c_str());
    std::fflush(stderr);
  }

 private:
  std::string name_;
};

// Whether systemd is taking the system down (a shutdown or reboot), as
// opposed to stopping this one service: its manager's SystemState is then
// "stopping". Without a reachable manager the answer is no.
bool SystemIsStopping() {
  const SystemdFunctions* systemd = Systemd();
  sd_bus* bus = nullptr;
  if (!systemd || systemd->bus_open_system(&bus) < 0) return false;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  char* state = nullptr;
  const int rc =
      systemd->bus_get_property_string(bus, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                       "org.freedesktop.systemd1.Manager", "SystemState", &error, &state);
  const bool stopping = rc >= 0 && state && std::string_view(state) == "stopping";
  std::free(state);
  systemd->bus_error_free(&error);
  systemd->bus_flush_close_unref(bus);
  return stopping;
}

class PosixServiceControl final : public ServiceControl {
 public:
  PosixServiceControl(std::function<bool()> system_stopping, bool control_fifo)
      : system_stopping_(std::move(system_stopping)), control_fifo_(control_fifo) {}

  std::unique_ptr<ScmConnection> OpenScm(std::uint32_t& error) override {
    struct stat st{};
    if (::stat(UnitDir().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      error = static_cast<std::uint32_t>(errno ? errno : ENOTDIR);
      return nullptr;
    }
    return std::make_unique<SystemdUnits>();
  }

  std::uint32_t RunDispatcher(const std::vector<std::string>& names, ServiceEntry entry) override {
    if (names.empty()) return EINVAL;
    const sigset_t stop_signals = StopSignals();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);  // inherited by every thread started below
    // A daemon outlives the terminal that started it.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &ignore, nullptr);

    // The dispatcher waits for a stop signal or the service's end, whichever
    // comes first; the service thread marks its end on an eventfd.
    const UniqueFd signals(signalfd(-1, &stop_signals, SFD_CLOEXEC));
    const UniqueFd ended(eventfd(0, EFD_CLOEXEC));
    // The service's own control codes ("-TEST"): a daemon without its FIFO
    // still runs, it only cannot be asked for a test.
    std::string fifo_error;
    const UniqueFd controls = control_fifo_ ? OpenControlFifo(fifo_error) : UniqueFd();
    if (control_fifo_ && !controls) {
      std::fprintf(stderr, "%s: no control FIFO: %s\n", names.front().c_str(), fifo_error.c_str());
      std::fflush(stderr);
    }
    std::thread service([&] {
      entry({names.front()});
      const std::uint64_t one = 1;
      (void)!::write(ended.get(), &one, sizeof one);
    });
    for (;;) {
      // A negative descriptor (no FIFO) is skipped by poll.
      pollfd fds[3] = {{signals.get(), POLLIN, 0}, {ended.get(), POLLIN, 0}, {controls.get(), POLLIN, 0}};
      if (::poll(fds, 3, -1) < 0) {
        if (errno == EINTR) continue;
        break;  // nothing left to wait on: the join below waits for the end
      }
      if (fds[1].revents & POLLIN) break;
      if (fds[2].revents & POLLIN) PassUserControls(controls.get());
      signalfd_siginfo info{};
      if (!(fds[0].revents & POLLIN) || ::read(signals.get(), &info, sizeof info) != sizeof info) continue;
      // At a system shutdown or reboot the board's timer keeps running, as
      // the Windows service leaves it: the board then covers a shutdown that hangs.
      const bool shutdown = info.ssi_signo == SIGTERM && system_stopping_();
      if (ControlCallback cb = control_.load(std::memory_order_acquire)) cb(shutdown ? kShutdownControl : kStopControl);
    }
    service.join();
    RemoveControlFifo(controls);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return 0;
  }

  // Each byte waiting in the FIFO is one code; only user-defined ones pass.
  void PassUserControls(int fd) {
    unsigned char bytes[64];
    const ssize_t n = ::read(fd, bytes, sizeof bytes);
    ControlCallback cb = control_.load(std::memory_order_acquire);
    for (ssize_t i = 0; i < n && cb; ++i) {
      if (bytes[i] >= 128) cb(bytes[i]);
    }
  }

  bool RegisterControlHandler(const std::string&, ControlCallback callback, std::uint32_t&) override {
    control_.store(callback, std::memory_order_release);
    return true;
  }

  // Under systemd: ready once running; stopping with each stop step's wait
  // hint as a time extension, so a working stop is never taken for a hang.
  bool SetStatus(const ServiceStatus& status, std::uint32_t&) override {
    if (status.current_state == kStateRunning) {
      NotifySystemd("READY=1\nSTATUS=Running");
    } else if (status.current_state == kStateStopPending) {
      const std::string text = "STOPPING=1\nSTATUS=Stopping\nEXTEND_TIMEOUT_USEC=" +
                               std::to_string(static_cast<std::uint64_t>(status.wait_hint) * 1000);
      NotifySystemd(text);
    }
    return true;
  }

  std::unique_ptr<ControlQueue> MakeControlQueue() override { return std::make_unique<MemoryControlQueue>(); }
  std::unique_ptr<MessageLoop> MakeMessageLoop() override { return std::make_unique<PosixMessageLoop>(); }

  std::unique_ptr<EventSource> OpenEventSource(const std::string& name) override {
    return std::make_unique<StderrEventSource>(name);
  }

  void ShowText(const std::string&, const std::string& text, bool problem) override {
    std::FILE* out = problem ? stderr : stdout;
    std::fputs(text.c_str(), out);
    if (!text.empty() && text.back() != '\n') std::fputc('\n', out);
    std::fflush(out);
  }
  bool UnknownWordsRunTheService() const override { return false; }

  void ShowMessageBox(const std::string& title, const std::string& text, BoxKind) override {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    std::fflush(stderr);
  }

  std::string SystemErrorText(std::uint32_t code) override {
    char buffer[256] = {};
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    return TrimSystemMessage(text ? text : buffer);
  }

  std::string ModuleFileName() override {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }

 private:
  std::atomic<ControlCallback> control_{nullptr};
  const std::function<bool()> system_stopping_;
  const bool control_fifo_;
};

}  // namespace

ServiceControl& SystemServiceControl() {
  static PosixServiceControl control(SystemIsStopping, true);
  return control;
}

std::unique_ptr<ServiceControl> MakeDaemonServiceControl(std::function<bool()> system_stopping, bool control_fifo) {
  return std::make_unique<PosixServiceControl>(std::move(system_stopping), control_fifo);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return EqualsIgnoringCase(a, b);
}

}  // namespace qov::platform
