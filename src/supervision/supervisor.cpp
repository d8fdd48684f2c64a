#include "supervision/supervisor.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

#include "config/config_loader.h"

namespace qov::supervision {
namespace {

// The pause before something that failed is tried again (a worker that
// could not be made, a dial, the log), and the shortest gap between two
// runs of a step whose period is 0.
constexpr std::int64_t kRetryPauseMs = 100;
constexpr platform::Tick kNever = std::numeric_limits<platform::Tick>::max();

}  // namespace

std::optional<std::string> RasdialCommandLine(const std::string& connection_name) {
  if (connection_name.find('"') != std::string::npos) return std::nullopt;
  return "rasdial \"" + connection_name + "\"";
}

TSupervisorThread::TSupervisorThread(SupervisorContext ctx) : ctx_(ctx), connection_(ctx.flags) {}

void TSupervisorThread::Execute() {
  ctx_.host.PrimeSystemLoad();
  ctx_.log.Close();
  ctx_.flags.supervisor_wake.store(&Stop().Wake());
  // A log file lost by a write wakes this thread to open it again.
  ctx_.log.WakeOnLoss(&Stop().Wake());
  next_feed_ = ctx_.clock.NowMs();

  LoadConfiguration();
  StartControlThread();

  while (!Terminated()) {
    ctx_.log.Open();
    // A thread that could not be created is tried again on the next pass.
    if (!control_started_) StartControlThread();
    if (checker_start_failed_) StartChecker();
    if (!connection_.Up()) BringConnectionUp();
    // Without dialling the checker starts once the start-up delay is over.
    if (!Terminated() && connection_.Up() && !ctx_.params.connection_need_dial && !checker_started_) {
      StartChecker();
    }
    LogSystemLoadWhenDue();
    RunPeriodicDuties();
    WaitForWork();
  }
  ctx_.reports.PublishMetrics(true);
  ctx_.reports.PublishStatus(true);
  ctx_.log.WakeOnLoss(nullptr);
  ctx_.flags.supervisor_wake.store(nullptr);
}

void TSupervisorThread::RunPeriodicDuties() {
  const platform::Tick now = ctx_.clock.NowMs();
  const std::int64_t feed_period_ms = ctx_.reports.HostWatchdogPeriodMs();
  if (feed_period_ms > 0 && platform::IsDue(now, next_feed_)) {
    FeedHostWatchdog(now);
    next_feed_ = platform::DeadlineAfter(now, feed_period_ms);
  }
  next_metrics_ = ctx_.reports.PublishMetrics(false);
  next_status_ = ctx_.reports.PublishStatus(false);
}

void TSupervisorThread::FeedHostWatchdog(platform::Tick now) {
  if (const char* stuck = ctx_.workers.StuckWorker(now)) {
    // The host restarts the service once its time-out passes unfed.
    if (!feed_withheld_) ctx_.log.Write(std::string("host watchdog ping withheld: ") + stuck + " made no progress");
    feed_withheld_ = true;
    return;
  }
  if (feed_withheld_) ctx_.log.Write("host watchdog ping resumed");
  feed_withheld_ = false;
  ctx_.reports.FeedHostWatchdog();
}

platform::Tick TSupervisorThread::NextDutyBefore(platform::Tick limit) const {
  platform::Tick next = limit;
  if (ctx_.reports.HostWatchdogPeriodMs() > 0) next = std::min(next, next_feed_);
  if (next_metrics_) next = std::min(next, *next_metrics_);
  if (next_status_) next = std::min(next, *next_status_);
  return next;
}

void TSupervisorThread::WaitForWork() {
  const config::TParamRec& p = ctx_.params;
  const platform::Tick now = ctx_.clock.NowMs();
  platform::Tick next = NextDutyBefore(kNever);
  if (p.system_load_log_enable) next = std::min(next, next_load_line_);
  // Something that failed, or a dial still running while the connection is
  // down, is looked at again after the pause.
  const bool dialling = p.connection_need_dial && !connection_.Up();
  const bool log_lost = !p.log_file_path.empty() && !ctx_.log.IsOpen();
  if (!control_started_ || checker_start_failed_ || dialling || log_lost) {
    next = std::min(next, platform::DeadlineAfter(now, kRetryPauseMs));
  }
  Stop().WaitUntil(ctx_.clock, std::max(next, platform::DeadlineAfter(now, 1)));
}

void TSupervisorThread::LoadConfiguration() {
  config::LoadResult loaded = config::LoadConfig(ctx_.registry);
  ctx_.params = loaded.params;
  ctx_.log.Configure(ctx_.params.log_file_path, ctx_.params.log_file_max_size);
  ctx_.log.Open();
  ctx_.log.Write("Service started");
  if (auto line = ctx_.reports.PreviousResetReport()) ctx_.log.Write(*line);
  for (const auto& name : loaded.wrong_type_values) ctx_.log.Write(config::WrongTypeMessage(name));
  for (const auto& name : loaded.control_character_values) ctx_.log.Write(config::ControlCharacterMessage(name));
  ctx_.reports.ConfigurationLoaded(loaded);
}

void TSupervisorThread::BringConnectionUp() {
  const config::TParamRec& p = ctx_.params;
  if (p.connection_need_dial && !p.connection_name.empty()) {
    // One dial at a time: a "rasdial" that still runs is given time to end.
    if (dial_process_ && dial_process_->Running()) return;
    dial_process_.reset();
    const std::string quoted = "\"" + p.connection_name + "\"";
    if (Dial()) {
      ctx_.log.Write("Open Internet-connection " + quoted);
      connection_.Dialled(ctx_.clock.NowMs(), p.check_settle_after_reset_s);
      if (!checker_started_) StartChecker();
    } else {
      ctx_.log.Write("Unable to open Internet-connection " + quoted);
    }
  } else if (!start_wait_done_) {
    ctx_.log.Write("Wait " + std::to_string(p.wait_time_after_start_s / 60) + " min after start");
    WaitSeconds(static_cast<std::uint32_t>(p.wait_time_after_start_s));
    connection_.StartDelayOver();
    start_wait_done_ = true;
  }
}

bool TSupervisorThread::Dial() {
  const auto command = RasdialCommandLine(ctx_.params.connection_name);
  if (!command) return false;
  dial_process_ = ctx_.host.StartProcess(*command);
  return dial_process_ != nullptr;
}

void TSupervisorThread::StartControlThread() {
  std::string error;
  const StartOutcome outcome = ctx_.workers.StartControlThread(error);
  if (outcome == StartOutcome::kFailed) {
    ctx_.log.Write("control thread start fail (" + error + ")");
    return;
  }
  control_started_ = true;
}

void TSupervisorThread::StartChecker() {
  std::string error;
  const StartOutcome outcome = ctx_.workers.StartChecker(error);
  checker_start_failed_ = outcome == StartOutcome::kFailed;
  if (checker_start_failed_) ctx_.log.Write("checker thread start fail (" + error + ")");
  if (outcome == StartOutcome::kRunning) checker_started_ = true;
}

void TSupervisorThread::WaitSeconds(std::uint32_t seconds) {
  const platform::Tick deadline = platform::DeadlineAfterSeconds(ctx_.clock.NowMs(), seconds);
  while (!Terminated() && !platform::IsDue(ctx_.clock.NowMs(), deadline)) {
    RunPeriodicDuties();
    Stop().WaitUntil(ctx_.clock, NextDutyBefore(deadline));
  }
}

void TSupervisorThread::LogSystemLoadWhenDue() {
  const config::TParamRec& p = ctx_.params;
  if (!p.system_load_log_enable || !platform::IsDue(ctx_.clock.NowMs(), next_load_line_)) return;
  // A period of 0 writes a line at each pause, not back to back.
  next_load_line_ = std::max(platform::DeadlineAfterSeconds(ctx_.clock.NowMs(), p.system_load_log_period_s),
                             platform::DeadlineAfter(ctx_.clock.NowMs(), kRetryPauseMs));
  if (auto text = ctx_.host.SystemLoadText()) ctx_.log.Write("System Load: CPU - " + *text);
}

}  // namespace qov::supervision
