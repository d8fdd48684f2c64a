// One service under the SCM: its settings and handlers, the entry routine
// the SCM calls, the service thread that runs every handler, the request
// loop that turns control codes into handler calls, and the status reports.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/service_control.h"
#include "service/event_logger.h"
#include "service/service_status.h"

namespace qov::service {

class TService {
 public:
  // Handlers with an in/out flag, preset to true before the call.
  using FlagHandler = std::function<void(TService& sender, bool& flag)>;
  using Handler = std::function<void(TService& sender)>;
  // A user-defined control code (128..255).
  using CustomHandler = std::function<void(TService& sender, std::uint32_t code)>;

  TService(platform::ServiceControl& sc, std::string name);
  virtual ~TService();
  TService(const TService&) = delete;
  TService& operator=(const TService&) = delete;

  ServiceSettings settings;

  // Assigning a stop handler also allows stop; pause or continue, pause.
  void SetOnStart(FlagHandler h) { on_start_ = std::move(h); }
  void SetOnStop(FlagHandler h);
  void SetOnPause(FlagHandler h);
  void SetOnContinue(FlagHandler h);
  void SetOnShutdown(Handler h) { on_shutdown_ = std::move(h); }
  void SetOnExecute(Handler h) { on_execute_ = std::move(h); }
  void SetOnCustomControl(CustomHandler h) { on_custom_ = std::move(h); }
  Handler before_install;
  Handler after_install;
  Handler before_uninstall;
  Handler after_uninstall;

  // The free function the SCM calls with each control code; it must hand
  // the code to Controller of this object.
  virtual platform::ControlCallback GetServiceController() const = 0;

  // The entry routine, on the SCM's thread for this service: registers the
  // control handler, runs the service thread to its end, reports stopped.
  void Main(const std::vector<std::string>& args);
  // The control routine, on the dispatcher's thread: queues the code for
  // the service thread. A code that comes before the queue exists is dropped.
  void Controller(std::uint32_t code);

  // Read by the entry routine and the service thread, one after the other.
  ServiceState State() const { return state_; }
  const std::vector<std::string>& Params() const { return params_; }
  // Whether the owning application holds more than one service.
  void SetSharedProcess(bool shared) { shared_process_ = shared; }

  // Reports the current pending state again with a rising check-point and
  // `wait_hint_ms`; handlers call it before each long step.
  void ReportProgress(std::uint32_t wait_hint_ms);

  // Writes to this service's event-log source (named after the service).
  void LogMessage(const std::string& text);
  TEventLogger& EventLogger() { return logger_; }

 protected:
  platform::ServiceControl& sc_;

 private:
  void SetState(ServiceState s);
  void ReportStatus(std::uint32_t wait_hint_ms);
  void RunServiceThread();
  void ProcessRequests(bool wait);
  // Handles one control code; false asks for the state before it back.
  bool HandleControl(std::uint32_t code);

  FlagHandler on_start_, on_stop_, on_pause_, on_continue_;
  Handler on_shutdown_, on_execute_;
  CustomHandler on_custom_;

  bool shared_process_ = false;
  std::vector<std::string> params_;
  ServiceState state_ = ServiceState::Stopped;
  StatusBook book_;
  std::uint32_t win32_exit_code_ = 0;
  std::uint32_t service_specific_exit_code_ = 0;
  // The service thread's terminate request; only that thread reads and writes it.
  bool terminated_ = false;
  // Made with the object so that the control routine always has a queue to ask.
  std::unique_ptr<platform::ControlQueue> queue_;
  TEventLogger logger_;
};

}  // namespace qov::service
