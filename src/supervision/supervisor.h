// The service's main worker: loads the configuration, opens the log, starts
// the device control thread, brings the connection up (start-up delay or
// "rasdial"), starts the checker and writes system-load lines.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config/config_loader.h"
#include "config/log_writer.h"
#include "config/param_rec.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/worker_thread.h"
#include "supervision/checker.h"
#include "supervision/run_flags.h"
#include "supervision/workers.h"

namespace qov::supervision {

// What the supervisor starts and asks for, supplied by the service module.
struct SupervisorSeams {
  // Tell the host's own watchdog (systemd's) that the service is alive;
  // called every `host_watchdog_period_ms` (never for 0), also during the
  // start-up delay, but not while the control thread or the checker is past
  // its promise of progress.
  std::function<void()> feed_host_watchdog = [] {};
  std::int64_t host_watchdog_period_ms = 0;
  // Publish the metrics when their period has passed and give the time the
  // next publication is due (nothing: none is); called at every wake-up and
  // once with `stopping` set when this thread ends.
  std::function<std::optional<platform::Tick>(bool stopping)> publish_metrics = [](bool) {
    return std::optional<platform::Tick>();
  };
  // Keep the status record up to date, as publish_metrics does the metrics:
  // at every wake-up, giving the time the next refresh is due, and once
  // with `stopping` set when this thread ends.
  std::function<std::optional<platform::Tick>(bool stopping)> publish_status = [](bool) {
    return std::optional<platform::Tick>();
  };
  // The line about the last computer reset, once after it (logged after
  // "Service started"); nothing otherwise.
  std::function<std::optional<std::string>()> previous_reset_report = [] { return std::nullopt; };
  // Called once the configuration is loaded and its start lines are logged.
  std::function<void(const config::LoadResult&)> configuration_loaded = [](const config::LoadResult&) {};
  // Take the first CPU sample (at the supervisor's start).
  std::function<void()> prime_system_load = [] {};
  // The text after "System Load: CPU - ", or nothing when no sample could be had.
  std::function<std::optional<std::string>()> system_load_text = [] { return std::nullopt; };
  // Start a detached process (the "rasdial" command line); null when it
  // could not be created.
  std::function<std::unique_ptr<platform::ChildProcess>(const std::string&)> start_process;
};

struct SupervisorContext {
  platform::Clock& clock;
  platform::Registry& registry;
  config::LogWriter& log;
  // Written here once, before any other thread is created; read-only after.
  config::TParamRec& params;
  RunFlags& flags;
  // Started once the configuration is loaded (the control thread) and once
  // the connection is up (the checker); their owner stops them.
  Workers& workers;
};

// The "rasdial" command line for a phone-book entry; nothing when the name
// would break out of its quotes.
std::optional<std::string> RasdialCommandLine(const std::string& connection_name);

class TSupervisorThread final : public platform::WorkerThread {
 public:
  TSupervisorThread(SupervisorContext ctx, SupervisorSeams seams);
  ~TSupervisorThread() override { Join(); }

 protected:
  void Execute() override;

 private:
  void LoadConfiguration();
  void BringConnectionUp();
  bool Dial();
  void StartControlThread();
  void StartChecker();
  void LogSystemLoadWhenDue();
  // The host watchdog and the metrics, when due.
  void RunPeriodicDuties();
  // Feeds the host's watchdog unless a worker is past its promise of progress.
  void FeedHostWatchdog(platform::Tick now);
  // Sleeps until the earliest deadline, the connection's loss or the stop.
  void WaitForWork();
  // The start-up delay: ends at once at a stop, runs the periodic duties meanwhile.
  void WaitSeconds(std::uint32_t seconds);
  // The earliest of the periodic duties' deadlines, or `limit` when sooner.
  platform::Tick NextDutyBefore(platform::Tick limit) const;

  SupervisorContext ctx_;
  SupervisorSeams seams_;
  platform::Tick next_load_line_ = 0;
  platform::Tick next_feed_ = 0;
  std::optional<platform::Tick> next_metrics_;
  std::optional<platform::Tick> next_status_;
  // Written by this thread only.
  bool control_started_ = false;
  bool checker_start_failed_ = false;
  bool feed_withheld_ = false;
  // The last "rasdial" started; the next dial waits for its end.
  std::unique_ptr<platform::ChildProcess> dial_process_;
};

}  // namespace qov::supervision
