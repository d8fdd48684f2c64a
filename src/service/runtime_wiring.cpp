#include "service/runtime_wiring.h"

#include <memory>

#include "platform/local_time.h"
#include "platform/state_store.h"
#include "service/run_reports.h"
#include "supervision/program_control.h"

namespace qov::service {

void WireRun(Runtime& rt, std::shared_ptr<supervision::Probes> probes, platform::ThreadStarter start_thread,
             platform::StateStore& state) {
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

  rt.reports = std::make_unique<ServiceRunReports>(rt, history, state);
  rt.host = std::make_unique<SystemHostActions>(rt.log);
}

}  // namespace qov::service
