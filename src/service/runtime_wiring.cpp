#include "service/runtime_wiring.h"

#include <memory>

#include "platform/process.h"
#include "supervision/load_line.h"
#include "supervision/net_probes.h"
#include "supervision/program_control.h"

namespace qov::service {

supervision::SupervisorSeams MakeSupervisorSeams(Runtime& rt) {
  supervision::SupervisorSeams s;
  s.start_control_thread = [&rt] {
    std::lock_guard lock(rt.thread_refs_mutex);
    rt.control = std::make_unique<device::TQOVControlThread>(
        device::DeviceContext{rt.clock, rt.log, rt.params, *rt.port, rt.mailbox, rt.receiver});
    rt.control->Start();
  };
  s.start_checker = [&rt] {
    std::lock_guard lock(rt.thread_refs_mutex);
    if (rt.checker) return;
    static supervision::NetProbes probes;
    auto program = std::make_shared<supervision::ProgramControl>(supervision::SystemUserSession(), rt.log, rt.params);
    rt.checker = std::make_unique<supervision::TOSMonitorThread>(supervision::CheckerContext{
        rt.clock, rt.log, rt.params, rt.flags, rt.control.get(), probes, [program] { program->Step(); }});
    rt.checker->Start();
  };
  // Used by the supervisor thread only.
  auto load = std::make_shared<supervision::SystemLoadLine>(rt.log);
  s.prime_system_load = [load] { load->Prime(); };
  s.system_load_text = [load] { return load->Text(); };
  s.start_process = platform::StartProcess;
  return s;
}

}  // namespace qov::service
