// The service's main worker: loads the configuration, opens the log, starts
// the device control thread, brings the connection up (start-up delay or
// "rasdial"), starts the checker and writes system-load lines.
#pragma once

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

// Where the run reports to the outside world, each report when it is due.
// The defaults report nothing.
class RunReports {
 public:
  virtual ~RunReports() = default;
  // The host's own watchdog (systemd's): fed every HostWatchdogPeriodMs()
  // (never for 0), also during the start-up delay, but not while the control
  // thread or the checker is past its promise of progress.
  virtual std::int64_t HostWatchdogPeriodMs() const { return 0; }
  virtual void FeedHostWatchdog() {}
  // Publish the metrics, or the status record, when their period has passed
  // and give the time the next publication is due (nothing: none is);
  // called at every wake-up and once with `stopping` set when the
  // supervisor ends.
  virtual std::optional<platform::Tick> PublishMetrics(bool /*stopping*/) { return std::nullopt; }
  virtual std::optional<platform::Tick> PublishStatus(bool /*stopping*/) { return std::nullopt; }
  // The line about the last computer reset, once after it (logged after
  // "Service started"); nothing otherwise.
  virtual std::optional<std::string> PreviousResetReport() { return std::nullopt; }
  // The configuration is loaded and its start lines are logged.
  virtual void ConfigurationLoaded(const config::LoadResult& /*loaded*/) {}
};

// What the supervisor reads of the machine and runs on it.
class HostActions {
 public:
  virtual ~HostActions() = default;
  // Take the first CPU sample (at the supervisor's start).
  virtual void PrimeSystemLoad() {}
  // The text after "System Load: CPU - ", or nothing when no sample could be had.
  virtual std::optional<std::string> SystemLoadText() { return std::nullopt; }
  // Start a detached process (the "rasdial" command line); null when it
  // could not be created.
  virtual std::unique_ptr<platform::ChildProcess> StartProcess(const std::string& command_line) = 0;
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
  RunReports& reports;
  HostActions& host;
};

// The "rasdial" command line for a phone-book entry; nothing when the name
// would break out of its quotes.
std::optional<std::string> RasdialCommandLine(const std::string& connection_name);

class TSupervisorThread final : public platform::WorkerThread {
 public:
  explicit TSupervisorThread(SupervisorContext ctx);
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
  ConnectionState connection_;
  platform::Tick next_load_line_ = 0;
  platform::Tick next_feed_ = 0;
  std::optional<platform::Tick> next_metrics_;
  std::optional<platform::Tick> next_status_;
  bool start_wait_done_ = false;
  bool checker_started_ = false;
  bool control_started_ = false;
  bool checker_start_failed_ = false;
  bool feed_withheld_ = false;
  // The last "rasdial" started; the next dial waits for its end.
  std::unique_ptr<platform::ChildProcess> dial_process_;
};

}  // namespace qov::supervision
