#include "service/service.h"

#include <exception>

#include "platform/thread.h"
#include "service/system_error.h"

namespace qov::service {
namespace {

enum : std::uint32_t { kStop = 1, kPause = 2, kContinue = 3, kInterrogate = 4, kShutdown = 5 };
// The range a service may define its own control codes in.
constexpr std::uint32_t kFirstUserControl = 128;
constexpr std::uint32_t kLastUserControl = 255;

const char* ActionWord(std::uint32_t code) {
  switch (code) {
    case kStop: return "stop";
    case kPause: return "pause";
    case kContinue: return "continue";
    case kInterrogate: return "interrogate";
    case kShutdown: return "shutdown";
    default: return nullptr;
  }
}

std::string FailedOn(const char* action, const std::string& text) {
  return std::string("Service failed on ") + action + ": " + text;
}

}  // namespace

TService::TService(platform::ServiceControl& sc, std::string name)
    : sc_(sc), queue_(sc.MakeControlQueue()), logger_(sc, name) {
  settings.name = std::move(name);
}

TService::~TService() = default;

void TService::SetOnStop(FlagHandler h) {
  on_stop_ = std::move(h);
  settings.allow_stop = true;
}

void TService::SetOnPause(FlagHandler h) {
  on_pause_ = std::move(h);
  settings.allow_pause = true;
}

void TService::SetOnContinue(FlagHandler h) {
  on_continue_ = std::move(h);
  settings.allow_pause = true;
}

void TService::LogMessage(const std::string& text) { logger_.LogMessage(text); }

void TService::Main(const std::vector<std::string>& args) {
  params_.insert(params_.end(), args.begin(), args.end());
  std::uint32_t error = 0;
  if (!sc_.RegisterControlHandler(settings.name, GetServiceController(), error)) {
    LogMessage(sc_.SystemErrorText(error));
    return;
  }
  SetState(ServiceState::StartPending);
  try {
    platform::Thread service_thread([this] { RunServiceThread(); });
    // Leaving the scope waits for the thread's end.
  } catch (...) {
    SetState(ServiceState::Stopped);
    LogMessage(FailedOn("execute", ErrorText(std::current_exception())));
    return;
  }
  SetState(ServiceState::Stopped);
}

void TService::Controller(std::uint32_t code) {
  // Pause is never accepted here, so the service thread is never suspended
  // and there is nothing to resume.
  queue_->Post(code);
}

void TService::SetState(ServiceState s) {
  state_ = s;
  ReportStatus(settings.wait_hint);
}

void TService::ReportProgress(std::uint32_t wait_hint_ms) { ReportStatus(wait_hint_ms); }

void TService::ReportStatus(std::uint32_t wait_hint_ms) {
  platform::ServiceStatus st = MakeStatus(settings, ServiceTypeValue(settings, shared_process_), state_, book_,
                                          win32_exit_code_, service_specific_exit_code_);
  st.wait_hint = wait_hint_ms;
  std::uint32_t error = 0;
  if (!sc_.SetStatus(st, error)) LogMessage(sc_.SystemErrorText(error));
}

void TService::RunServiceThread() {
  queue_->Create();
  try {
    SetState(ServiceState::StartPending);
    bool started = true;
    if (on_start_) on_start_(*this, started);
    if (!started) return;
  } catch (...) {
    LogMessage(FailedOn("start", ErrorText(std::current_exception())));
    return;
  }
  try {
    SetState(ServiceState::Running);
    if (on_execute_) {
      on_execute_(*this);
    } else {
      ProcessRequests(true);
    }
    ProcessRequests(false);
  } catch (...) {
    LogMessage(FailedOn("execute", ErrorText(std::current_exception())));
  }
}

void TService::ProcessRequests(bool wait) {
  for (;;) {
    if (wait && terminated_) return;
    std::uint32_t code = 0;
    const platform::ControlQueue::Taken taken = queue_->Next(wait, code);
    if (taken == platform::ControlQueue::Taken::Quit || taken == platform::ControlQueue::Taken::Empty) return;
    if (taken == platform::ControlQueue::Taken::Other) continue;

    const ServiceState before = state_;
    try {
      if (!HandleControl(code)) SetState(before);
    } catch (...) {
      const std::string text = ErrorText(std::current_exception());
      if (code != kShutdown) SetState(before);
      if (const char* action = ActionWord(code)) {
        LogMessage(FailedOn(action, text));
      } else {
        LogMessage("Service failed in custom message(" + std::to_string(code) + "): " + text);
      }
    }
  }
}

bool TService::HandleControl(std::uint32_t code) {
  bool flag = true;
  // A stop or shutdown queued while the first one ran finds the run ended:
  // the handlers are never called twice.
  if (terminated_ && (code == kStop || code == kShutdown)) return true;
  switch (code) {
    case kStop:
      SetState(ServiceState::StopPending);
      if (on_stop_) on_stop_(*this, flag);
      if (flag) terminated_ = true;
      return flag;
    case kPause:
      SetState(ServiceState::PausePending);
      if (on_pause_) on_pause_(*this, flag);
      // The thread would be suspended here until the next control code
      // arrives; it waits for that code in its queue all the same.
      if (flag) SetState(ServiceState::Paused);
      return flag;
    case kContinue:
      SetState(ServiceState::ContinuePending);
      if (on_continue_) on_continue_(*this, flag);
      if (flag) SetState(ServiceState::Running);
      return flag;
    case kInterrogate:
      ReportStatus(settings.wait_hint);
      return true;
    case kShutdown:
      SetState(ServiceState::StopPending);
      try {
        if (on_shutdown_) on_shutdown_(*this);
      } catch (...) {
        terminated_ = true;
        throw;
      }
      terminated_ = true;
      return true;
    default:
      // Codes the system defines and this service does not take change nothing.
      if (code >= kFirstUserControl && code <= kLastUserControl && on_custom_ && !terminated_) {
        on_custom_(*this, code);
      }
      return true;
  }
}

}  // namespace qov::service
