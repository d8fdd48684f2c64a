// The supervisor's reports of a service run (host watchdog, metrics file,
// status record, start lines and events) and its actions on the machine.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "metrics/metrics_writer.h"
#include "metrics/status_writer.h"
#include "platform/state_store.h"
#include "service/runtime.h"
#include "supervision/load_line.h"
#include "supervision/reset_history.h"
#include "supervision/supervisor.h"

namespace qov::service {

// Used by the supervisor thread only.
class ServiceRunReports final : public supervision::RunReports {
 public:
  ServiceRunReports(Runtime& rt, std::shared_ptr<supervision::ResetHistory> history, platform::StateStore& state);

  std::int64_t HostWatchdogPeriodMs() const override { return host_watchdog_period_ms_; }
  void FeedHostWatchdog() override;
  std::optional<platform::Tick> PublishMetrics(bool stopping) override;
  std::optional<platform::Tick> PublishStatus(bool stopping) override;
  std::optional<std::string> PreviousResetReport() override;
  void ConfigurationLoaded(const config::LoadResult& loaded) override;

 private:
  metrics::StatusRecord GatherStatus(platform::Tick now) const;

  Runtime& rt_;
  std::shared_ptr<supervision::ResetHistory> history_;
  const std::int64_t host_watchdog_period_ms_;
  // Made once the configuration is loaded; with no path nothing is made and
  // nothing is written.
  std::unique_ptr<metrics::MetricsWriter> metrics_writer_;
  metrics::StatusWriter status_writer_;
};

// The machine's load and its processes, through platform/.
class SystemHostActions final : public supervision::HostActions {
 public:
  explicit SystemHostActions(config::LogWriter& log) : load_(log) {}
  void PrimeSystemLoad() override { load_.Prime(); }
  std::optional<std::string> SystemLoadText() override { return load_.Text(); }
  std::unique_ptr<platform::ChildProcess> StartProcess(const std::string& command_line) override;

 private:
  supervision::SystemLoadLine load_;
};

}  // namespace qov::service
