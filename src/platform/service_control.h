// What the service host needs of the operating system: the Service Control
// Manager (install, uninstall, dispatching, status), the service thread's
// control queue, the main thread's message loop, the event log, message
// boxes, the system's error texts and the program's own path. Behind one
// interface so that the host's state machine runs against a fake.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qov::platform {

// The SCM's SERVICE_STATUS record.
struct ServiceStatus {
  std::uint32_t service_type = 0;
  std::uint32_t current_state = 0;
  std::uint32_t controls_accepted = 0;
  std::uint32_t win32_exit_code = 0;
  std::uint32_t service_specific_exit_code = 0;
  std::uint32_t check_point = 0;
  std::uint32_t wait_hint = 0;
};

// The arguments of CreateServiceA.
struct ServiceConfig {
  std::string name;
  std::string display_name;
  std::uint32_t service_type = 0;
  std::uint32_t start_type = 0;
  std::uint32_t error_control = 0;
  std::string binary_path;
  std::string load_group;
  bool want_tag = false;
  std::string dependencies;  // empty: none
  std::string account;       // empty: LocalSystem
  std::string password;
};

// What the SCM does when the service's process ends without reporting that
// it stopped: a restart after each delay in turn, then nothing more; the
// count of failures starts again after `reset_period_s` without one.
struct RecoveryActions {
  std::vector<std::uint32_t> restart_delays_ms;  // empty: none are set
  std::uint32_t reset_period_s = 0;
};

// An open service handle, closed when the object goes.
class ServiceHandle {
 public:
  virtual ~ServiceHandle() = default;
  // DeleteService; false with `error` set when it fails.
  virtual bool Delete(std::uint32_t& error) = 0;
  // ChangeServiceConfig2A with SERVICE_CONFIG_FAILURE_ACTIONS; false with
  // `error` set when it fails.
  virtual bool SetRecoveryActions(const RecoveryActions& actions, std::uint32_t& error) = 0;
};

// An open handle to the local SCM, closed when the object goes.
class ScmConnection {
 public:
  virtual ~ScmConnection() = default;
  // CreateServiceA; null with `error` set when it fails. `tag` receives the
  // load-order tag when one was asked for.
  virtual std::unique_ptr<ServiceHandle> Create(const ServiceConfig& config, std::uint32_t& tag,
                                                std::uint32_t& error) = 0;
  // OpenServiceA with full access; null with `error` set when it fails.
  virtual std::unique_ptr<ServiceHandle> Open(const std::string& name, std::uint32_t& error) = 0;
};

// The control codes for one service thread. On Windows these are thread
// messages (WM_USER + 1) in the thread's own message queue.
class ControlQueue {
 public:
  enum class Taken { Control, Other, Quit, Empty };
  virtual ~ControlQueue() = default;
  // On the thread that will take the codes: makes its queue.
  virtual void Create() = 0;
  // From any thread; false while no queue exists.
  virtual bool Post(std::uint32_t code) = 0;
  // On the queue's thread. Waiting, it blocks for the next message (Quit
  // when the thread was told to quit); not waiting, an empty queue gives
  // Empty. A message that carries no control code is dispatched and gives Other.
  virtual Taken Next(bool wait, std::uint32_t& code) = 0;
};

// The main thread's message loop in a service run. On Windows it owns the
// hidden window that swallows WM_ENDSESSION, so a log-off does not end the process.
class MessageLoop {
 public:
  virtual ~MessageLoop() = default;
  // On the thread that made the loop: runs until Quit.
  virtual void Run() = 0;
  // From any thread.
  virtual void Quit() = 0;
};

enum class EventType { Information, Warning, Error };

struct EventRecord {
  EventType type = EventType::Information;
  std::uint32_t id = 0;
  std::vector<std::string> strings;
  std::string text;
};

// One registered event-log source, deregistered when the object goes.
class EventSource {
 public:
  virtual ~EventSource() = default;
  // An error event with `text` as its one insertion string; failures are ignored.
  virtual void ReportError(const std::string& text) = 0;
  // An event of the message table: its ID, level and insertion strings, and
  // the whole text for systems that keep no message table.
  virtual void Report(const EventRecord& event) = 0;
};

enum class BoxKind {
  Error,        // error icon, OK
  Information,  // information icon, OK
  Fatal,        // error icon, OK, task-modal
};

// Called by the SCM on a thread of its own with the service's arguments.
using ServiceEntry = std::function<void(const std::vector<std::string>& args)>;
// The service's control callback: one control code, no result.
using ControlCallback = void (*)(std::uint32_t code);

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;

  // Install and uninstall. Null with `error` set when the SCM cannot be opened.
  virtual std::unique_ptr<ScmConnection> OpenScm(std::uint32_t& error) = 0;

  // Service run. Connects to the SCM's dispatcher with a table of `names`
  // and blocks until every service has stopped; 0, or the error code.
  virtual std::uint32_t RunDispatcher(const std::vector<std::string>& names, ServiceEntry entry) = 0;
  // Registers `callback` as the control handler of `name`; false with
  // `error` set when that fails.
  virtual bool RegisterControlHandler(const std::string& name, ControlCallback callback,
                                      std::uint32_t& error) = 0;
  // SetServiceStatus on the handle the last registration gave.
  virtual bool SetStatus(const ServiceStatus& status, std::uint32_t& error) = 0;
  virtual std::unique_ptr<ControlQueue> MakeControlQueue() = 0;
  // Made on the thread that will run it.
  virtual std::unique_ptr<MessageLoop> MakeMessageLoop() = 0;

  // Reporting. The source is registered at once; its result is not tested.
  virtual std::unique_ptr<EventSource> OpenEventSource(const std::string& name) = 0;
  // Shows a box with one OK button. A box that cannot be shown (no display)
  // has its title and text written on stderr instead.
  virtual void ShowMessageBox(const std::string& title, const std::string& text, BoxKind kind) = 0;
  // The system's message text for `code`, with trailing blanks, control
  // characters and periods removed.
  virtual std::string SystemErrorText(std::uint32_t code) = 0;
  // The full path of the running executable.
  virtual std::string ModuleFileName() = 0;

  // A text the user asked for (usage, version) or, with `problem`, a usage
  // error: a box like the install's (stderr when none can be shown); a
  // daemon prints it on stdout, a problem on stderr.
  virtual void ShowText(const std::string& title, const std::string& text, bool problem) {
    ShowMessageBox(title, text, problem ? BoxKind::Error : BoxKind::Information);
  }
  // Whether a word the program does not know still runs the service (as
  // the SCM's own start does on Windows); a daemon refuses such words.
  virtual bool UnknownWordsRunTheService() const { return true; }
};

ServiceControl& SystemServiceControl();

// The service's own control codes: an operator's test reset of the modem or
// the computer ("-TEST MODEM", "-TEST COMPUTER").
inline constexpr std::uint32_t kTestModemControl = 200;
inline constexpr std::uint32_t kTestComputerControl = 201;

enum class ControlSent { kSent, kNotRunning, kRefused, kFailed };
// Sends a user-defined control code (128..255) to the running service
// `name`: ControlService on a handle opened with the user-defined-control
// right (administrators only by default) on Windows, the daemon's root-only
// control FIFO on Linux. `why` gets the system's text when not sent.
ControlSent SendUserControl(const std::string& name, std::uint32_t code, std::string& why);

// The arguments after the program name: on Windows the words of the
// process command line (SplitCommandLine), elsewhere argv.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Equality without regard to case in the user's locale (CompareStringA with
// NORM_IGNORECASE on Windows).
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// Removes trailing blanks, control characters and periods from a system message.
inline std::string TrimSystemMessage(std::string text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) text.pop_back();
  return text;
}

}  // namespace qov::platform
