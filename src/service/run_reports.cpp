#include "service/run_reports.h"

#include "platform/host_watchdog.h"
#include "platform/local_time.h"
#include "platform/process.h"
#include "platform/status_host.h"
#include "service/config_check.h"

namespace qov::service {

ServiceRunReports::ServiceRunReports(Runtime& rt, std::shared_ptr<supervision::ResetHistory> history,
                                     platform::StateStore& state)
    : rt_(rt),
      history_(std::move(history)),
      host_watchdog_period_ms_(platform::HostWatchdogFeedPeriodMs()),
      status_writer_([this](platform::Tick now) { return GatherStatus(now); },
                     [store = &state](const std::string& text) { return store->PublishStatus(text); },
                     platform::AnnounceStatusLine, rt.log,
                     [](std::int64_t utc_s) { return platform::LocalDateTimeText(utc_s); }) {
  rt_.metrics.start_time_s = platform::UtcNowSeconds();
}

void ServiceRunReports::FeedHostWatchdog() { platform::FeedHostWatchdog(); }

std::optional<platform::Tick> ServiceRunReports::PublishMetrics(bool stopping) {
  if (rt_.params.metrics_file_path.empty()) return std::nullopt;
  if (!metrics_writer_) {
    metrics_writer_ = std::make_unique<metrics::MetricsWriter>(rt_.metrics, rt_.log, rt_.params.metrics_file_path,
                                                               rt_.params.metrics_period_s);
  }
  if (stopping) {
    metrics_writer_->WriteStopped(rt_.clock.NowMs());
    return std::nullopt;
  }
  return metrics_writer_->WriteIfDue(rt_.clock.NowMs());
}

std::optional<platform::Tick> ServiceRunReports::PublishStatus(bool stopping) {
  if (stopping) {
    status_writer_.WriteStopped(rt_.clock.NowMs());
    return std::nullopt;
  }
  return status_writer_.WriteIfDue(rt_.clock.NowMs());
}

std::optional<std::string> ServiceRunReports::PreviousResetReport() {
  const auto last = history_->TakeUnreported();
  if (!last) return std::nullopt;
  return "Previous computer reset: " + platform::LocalDateTimeText(last->utc_seconds) + " (" + last->reason + ")";
}

void ServiceRunReports::ConfigurationLoaded(const config::LoadResult& loaded) {
  rt_.events.SetEnabled(loaded.params.event_log_enable);
  if (!loaded.params.event_log_enable) return;
  rt_.events.Report(config::EventId::kServiceStarted, {});
  for (const CheckProblem& problem : FindConfigurationProblems(loaded, CheckFacts::System())) {
    rt_.events.Report(config::EventId::kConfigurationProblem, {problem.text});
  }
}

// The status record, made from the metrics and from the owners of the rest:
// the settle window (run flags) and the resets (the history).
metrics::StatusRecord ServiceRunReports::GatherStatus(platform::Tick now) const {
  const std::int64_t utc_now = platform::UtcNowSeconds();
  metrics::StatusRecord r = metrics::StatusFromSnapshot(metrics::TakeSnapshot(rt_.metrics, now, utc_now, true));
  r.pid = platform::CurrentProcessId();
  r.written_s = utc_now;
  r.port = rt_.params.qov_com_port;
  const platform::Tick settle_until = rt_.flags.SettleUntil();
  if (now < settle_until) r.settle_until_s = utc_now + (settle_until - now + 999) / 1000;
  const supervision::ResetSummary resets = history_->Summary(utc_now);
  r.resets_last_day = resets.last_day;
  r.resets_max_per_day = rt_.params.reset_comp_max_per_day;
  if (resets.last) {
    r.last_reset_s = resets.last->utc_seconds;
    r.last_reset_reason = resets.last->reason;
  }
  return r;
}

std::unique_ptr<platform::ChildProcess> SystemHostActions::StartProcess(const std::string& command_line) {
  return platform::StartWatchedProcess(command_line);
}

}  // namespace qov::service
