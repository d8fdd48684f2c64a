#include "service/runtime_wiring.h"

#include "platform/process.h"

namespace qov::service {
namespace {

// Until the real probes are wired every probe fails.
class NoProbes final : public supervision::Probes {
 public:
  bool Http(const std::string&) override { return false; }
  bool Icmp(const std::string&, std::uint32_t) override { return false; }
};

}  // namespace

supervision::SupervisorSeams MakeSupervisorSeams(Runtime& rt) {
  supervision::SupervisorSeams s;
  s.start_control_thread = [&rt] {
    rt.control = std::make_unique<device::TQOVControlThread>(
        device::DeviceContext{rt.clock, rt.log, rt.params, *rt.port, rt.mailbox, rt.receiver});
    rt.control->Start();
  };
  s.start_checker = [&rt] {
    if (rt.checker) return;
    static NoProbes probes;
    rt.checker = std::make_unique<supervision::TOSMonitorThread>(
        supervision::CheckerContext{rt.clock, rt.log, rt.params, rt.flags, rt.control.get(), probes, [] {}});
    rt.checker->Start();
  };
  s.start_process = platform::StartProcess;
  return s;
}

}  // namespace qov::service
