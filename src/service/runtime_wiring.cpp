#include "service/runtime_wiring.h"

#include <memory>

#include "metrics/metrics_writer.h"
#include "metrics/status_writer.h"
#include "platform/host_watchdog.h"
#include "platform/local_time.h"
#include "platform/process.h"
#include "platform/state_store.h"
#include "platform/status_host.h"
#include "service/config_check.h"
#include "supervision/load_line.h"
#include "supervision/program_control.h"

namespace qov::service {

supervision::SupervisorSeams WireRun(Runtime& rt, std::shared_ptr<supervision::Probes> probes,
                                     platform::ThreadStarter start_thread, platform::StateStore& state) {
  auto history = std::make_shared<supervision::ResetHistory>(state, platform::UtcNowSeconds);
  auto make_control = [&rt, &state] {
    device::DeviceContext ctx{rt.clock, rt.log, rt.params, *rt.port, rt.mailbox};
    ctx.events = &rt.events;
    ctx.metrics = &rt.metrics;
    ctx.state = &state;
    return std::make_unique<device::TQOVControlThread>(std::move(ctx));
  };
  auto make_checker = [&rt, probes, history](device::ResetRequests* control) {
    auto program = std::make_shared<supervision::ProgramControl>(supervision::SystemUserSession(), rt.log, rt.params);
    return std::make_unique<supervision::TOSMonitorThread>(supervision::CheckerContext{
        rt.clock, rt.log, rt.params, rt.flags, control, *probes,
        [program](const std::atomic<bool>& stop) { program->Step(stop); }, history.get(), &rt.events,
        &rt.metrics});
  };
  rt.workers = std::make_unique<RunWorkers>(std::move(make_control), std::move(make_checker), std::move(start_thread));

  supervision::SupervisorSeams s;
  s.previous_reset_report = [history]() -> std::optional<std::string> {
    const auto last = history->TakeUnreported();
    if (!last) return std::nullopt;
    return "Previous computer reset: " + platform::LocalDateTimeText(last->utc_seconds) + " (" + last->reason + ")";
  };
  s.configuration_loaded = [&rt](const config::LoadResult& loaded) {
    rt.events.SetEnabled(loaded.params.event_log_enable);
    if (!loaded.params.event_log_enable) return;
    rt.events.Report(config::EventId::kServiceStarted, {});
    for (const CheckProblem& problem : FindConfigurationProblems(loaded, CheckFacts::System())) {
      rt.events.Report(config::EventId::kConfigurationProblem, {problem.text});
    }
  };
  // Used by the supervisor thread only.
  auto load = std::make_shared<supervision::SystemLoadLine>(rt.log);
  s.prime_system_load = [load] { load->Prime(); };
  s.system_load_text = [load] { return load->Text(); };
  s.start_process = platform::StartWatchedProcess;
  s.feed_host_watchdog = platform::FeedHostWatchdog;
  s.host_watchdog_period_ms = platform::HostWatchdogFeedPeriodMs();
  rt.metrics.start_time_s = platform::UtcNowSeconds();
  // Made on the supervisor thread once the configuration is loaded; with no
  // path nothing is made and nothing is written.
  auto writer = std::make_shared<std::unique_ptr<metrics::MetricsWriter>>();
  s.publish_metrics = [&rt, writer](bool stopping) -> std::optional<platform::Tick> {
    if (rt.params.metrics_file_path.empty()) return std::nullopt;
    if (!*writer) {
      *writer = std::make_unique<metrics::MetricsWriter>(rt.metrics, rt.log, rt.params.metrics_file_path,
                                                         rt.params.metrics_period_s);
    }
    if (stopping) {
      (*writer)->WriteStopped(rt.clock.NowMs());
      return std::nullopt;
    }
    return (*writer)->WriteIfDue(rt.clock.NowMs());
  };
  // The status record, made from the same metrics and from the owners of
  // the rest: the settle window (run flags) and the resets (the history).
  const auto gather = [&rt, history](platform::Tick now) {
    const std::int64_t utc_now = platform::UtcNowSeconds();
    metrics::StatusRecord r = metrics::StatusFromSnapshot(metrics::TakeSnapshot(rt.metrics, now, utc_now, true));
    r.pid = platform::CurrentProcessId();
    r.written_s = utc_now;
    r.port = rt.params.qov_com_port;
    const platform::Tick settle_until = rt.flags.settle_until.load();
    if (now < settle_until) r.settle_until_s = utc_now + (settle_until - now + 999) / 1000;
    const supervision::ResetSummary resets = history->Summary(utc_now);
    r.resets_last_day = resets.last_day;
    r.resets_max_per_day = rt.params.reset_comp_max_per_day;
    if (resets.last) {
      r.last_reset_s = resets.last->utc_seconds;
      r.last_reset_reason = resets.last->reason;
    }
    return r;
  };
  // Used by the supervisor thread only.
  auto status = std::make_shared<metrics::StatusWriter>(
      gather, [store = &state](const std::string& text) { return store->PublishStatus(text); },
      platform::AnnounceStatusLine, rt.log,
      [](std::int64_t utc_s) { return platform::LocalDateTimeText(utc_s); });
  s.publish_status = [&rt, status](bool stopping) -> std::optional<platform::Tick> {
    if (stopping) {
      status->WriteStopped(rt.clock.NowMs());
      return std::nullopt;
    }
    return status->WriteIfDue(rt.clock.NowMs());
  };
  return s;
}

}  // namespace qov::service
