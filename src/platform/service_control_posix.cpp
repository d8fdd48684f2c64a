// Without a Service Control Manager the service runs in the foreground: the
// "dispatcher" starts the service at once and turns SIGINT and SIGTERM into
// the stop control. Boxes and event-log entries go to stderr.
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/memory_control_queue.h"
#include "platform/service_control.h"

namespace qov::platform {
namespace {

constexpr std::uint32_t kStopControl = 1;

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// Made on the main thread before any other thread exists, it blocks the stop
// signals there, so that every later thread inherits the mask and only the
// dispatcher's sigtimedwait takes them.
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

class StderrEventSource final : public EventSource {
 public:
  explicit StderrEventSource(std::string name) : name_(std::move(name)) {}
  void ReportError(const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", name_.c_str(), text.c_str());
    std::fflush(stderr);
  }

 private:
  std::string name_;
};

class PosixServiceControl final : public ServiceControl {
 public:
  std::unique_ptr<ScmConnection> OpenScm(std::uint32_t& error) override {
    error = ENOSYS;
    return nullptr;
  }

  std::uint32_t RunDispatcher(const std::vector<std::string>& names, ServiceEntry entry) override {
    if (names.empty()) return EINVAL;
    const sigset_t stop_signals = StopSignals();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);  // inherited by every thread started below

    std::atomic<bool> done{false};
    std::thread service([&] {
      entry({names.front()});
      done.store(true, std::memory_order_release);
    });
    const timespec poll{0, 100 * 1000 * 1000};
    while (!done.load(std::memory_order_acquire)) {
      if (sigtimedwait(&stop_signals, nullptr, &poll) > 0) {
        if (ControlCallback cb = control_.load(std::memory_order_acquire)) cb(kStopControl);
      }
    }
    service.join();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return 0;
  }

  bool RegisterControlHandler(const std::string&, ControlCallback callback, std::uint32_t&) override {
    control_.store(callback, std::memory_order_release);
    return true;
  }

  bool SetStatus(const ServiceStatus&, std::uint32_t&) override { return true; }

  std::unique_ptr<ControlQueue> MakeControlQueue() override { return std::make_unique<MemoryControlQueue>(); }
  std::unique_ptr<MessageLoop> MakeMessageLoop() override { return std::make_unique<PosixMessageLoop>(); }

  std::unique_ptr<EventSource> OpenEventSource(const std::string& name) override {
    return std::make_unique<StderrEventSource>(name);
  }

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
};

}  // namespace

ServiceControl& SystemServiceControl() {
  static PosixServiceControl control;
  return control;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace qov::platform
