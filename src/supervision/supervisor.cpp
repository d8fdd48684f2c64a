#include "supervision/supervisor.h"

#include <exception>
#include <utility>

#include "config/config_loader.h"

namespace qov::supervision {

std::optional<std::string> RasdialCommandLine(const std::string& connection_name) {
  if (connection_name.find('"') != std::string::npos) return std::nullopt;
  return "rasdial \"" + connection_name + "\"";
}

TSupervisorThread::TSupervisorThread(SupervisorContext ctx, SupervisorSeams seams)
    : ctx_(ctx), seams_(std::move(seams)) {}

TSupervisorThread::~TSupervisorThread() {
  Join();
  std::lock_guard lock(workers_mutex_);
  checker_.reset();
  control_.reset();
}

void TSupervisorThread::StopStartingWorkers() {
  std::lock_guard lock(workers_mutex_);
  accepting_workers_ = false;
}

device::TQOVControlThread* TSupervisorThread::ControlThread() {
  std::lock_guard lock(workers_mutex_);
  return control_.get();
}

platform::Stoppable* TSupervisorThread::Checker() {
  std::lock_guard lock(workers_mutex_);
  return checker_.get();
}

void TSupervisorThread::Execute() {
  seams_.prime_system_load();
  ctx_.log.Close();
  ctx_.flags.connection_up = false;
  ctx_.flags.start_wait_done = false;
  ctx_.flags.checker_started = false;
  ctx_.flags.last_check_ok = true;
  ctx_.flags.dial_settles = true;

  LoadConfiguration();
  StartControlThread();

  while (!Terminated()) {
    ctx_.log.Open();
    // A thread that could not be created is tried again on the next pass.
    if (!control_started_) StartControlThread();
    if (checker_start_failed_) StartChecker();
    if (!ctx_.flags.connection_up) {
      BringConnectionUp();
    } else if (!ctx_.params.connection_need_dial && !ctx_.flags.checker_started) {
      StartChecker();
    }
    LogSystemLoadWhenDue();
    seams_.feed_host_watchdog();
    seams_.publish_metrics(false);
    ctx_.clock.SleepMs(100);
  }
  seams_.publish_metrics(true);
}

void TSupervisorThread::LoadConfiguration() {
  config::LoadResult loaded = config::LoadConfig(ctx_.registry);
  ctx_.params = loaded.params;
  ctx_.log.Configure(ctx_.params.log_file_path, ctx_.params.log_file_max_size);
  ctx_.log.Open();
  ctx_.log.Write("Service started");
  if (auto line = seams_.previous_reset_report()) ctx_.log.Write(*line);
  for (const auto& name : loaded.wrong_type_values) ctx_.log.Write(config::WrongTypeMessage(name));
  for (const auto& name : loaded.control_character_values) ctx_.log.Write(config::ControlCharacterMessage(name));
  seams_.configuration_loaded(loaded);
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
      ctx_.flags.ConnectionDialled(ctx_.clock.NowMs(), p.check_settle_after_reset_s);
      if (!ctx_.flags.checker_started) StartChecker();
    } else {
      ctx_.log.Write("Unable to open Internet-connection " + quoted);
    }
  } else if (!ctx_.flags.start_wait_done) {
    ctx_.log.Write("Wait " + std::to_string(p.wait_time_after_start_s / 60) + " min after start");
    WaitSeconds(static_cast<std::uint32_t>(p.wait_time_after_start_s));
    ctx_.flags.connection_up = true;
    ctx_.flags.start_wait_done = true;
  }
}

bool TSupervisorThread::Dial() {
  const auto command = RasdialCommandLine(ctx_.params.connection_name);
  if (!command || !seams_.start_process) return false;
  dial_process_ = seams_.start_process(*command);
  return dial_process_ != nullptr;
}

void TSupervisorThread::StartControlThread() {
  std::lock_guard lock(workers_mutex_);
  if (!accepting_workers_) return;
  std::unique_ptr<device::TQOVControlThread> made = seams_.make_control_thread();
  if (made && !Launch(*made, "control thread")) return;
  control_ = std::move(made);
  control_started_ = true;
}

void TSupervisorThread::StartChecker() {
  std::lock_guard lock(workers_mutex_);
  checker_start_failed_ = false;
  if (!accepting_workers_ || checker_) return;
  std::unique_ptr<TOSMonitorThread> made = seams_.make_checker(control_.get());
  if (made && !Launch(*made, "checker thread")) {
    checker_start_failed_ = true;
    return;
  }
  checker_ = std::move(made);
  ctx_.flags.checker_started = true;
}

bool TSupervisorThread::Launch(platform::WorkerThread& worker, const char* what) {
  try {
    seams_.start_thread(worker);
    return true;
  } catch (const std::exception& e) {
    ctx_.log.Write(std::string(what) + " start fail (" + e.what() + ")");
    return false;
  }
}

void TSupervisorThread::WaitSeconds(std::uint32_t seconds) {
  const platform::Tick deadline = platform::DeadlineAfterSeconds(ctx_.clock.NowMs(), seconds);
  while (ctx_.clock.NowMs() < deadline && !Terminated()) {
    seams_.feed_host_watchdog();
    seams_.publish_metrics(false);
    ctx_.clock.SleepMs(250);
  }
}

void TSupervisorThread::LogSystemLoadWhenDue() {
  const config::TParamRec& p = ctx_.params;
  if (!p.system_load_log_enable || !platform::IsPast(ctx_.clock.NowMs(), next_load_line_)) return;
  next_load_line_ = platform::DeadlineAfterSeconds(ctx_.clock.NowMs(), p.system_load_log_period_s);
  if (auto text = seams_.system_load_text()) ctx_.log.Write("System Load: CPU - " + *text);
}

}  // namespace qov::supervision
