#include "service/qov_lumo_service.h"

#include <stdexcept>

#include "device/test_outcome.h"
#include "platform/local_time.h"
#include "service/runtime_wiring.h"
#include "service/stop_sequence.h"
#include "supervision/net_probes.h"

namespace qov::service {
namespace {

constexpr std::uint32_t kControlLimitMs = 5000;
constexpr std::uint32_t kWorkerLimitMs = 2000;
// Added to a stop step's limit in its wait hint, for freeing and reporting.
constexpr std::uint32_t kStepHintMarginMs = 1000;

// Writes one value into the key at `path`, creating the key when it is missing.
void WriteValue(platform::Registry& reg, const std::string& path, const std::string& name,
                const std::function<bool(platform::RegKey&)>& write) {
  std::unique_ptr<platform::RegKey> key = reg.Open(path, true);
  if (!key) throw std::runtime_error("Failed to create key " + path);
  if (!write(*key)) throw std::runtime_error("Failed to set data for '" + name + "'");
}

}  // namespace

std::atomic<Tqov_lumo_service*> qov_lumo_service{nullptr};

void ServiceController(std::uint32_t code) {
  if (Tqov_lumo_service* m = qov_lumo_service.load(std::memory_order_acquire)) m->Controller(code);
}

Tqov_lumo_service::Tqov_lumo_service(platform::ServiceControl& sc, platform::Clock& clock,
                                     platform::Registry& registry, std::shared_ptr<supervision::Probes> probes,
                                     platform::StateStore* state)
    : TService(sc, kServiceName),
      clock_(clock),
      registry_(registry),
      probes_(probes ? std::move(probes) : std::make_shared<supervision::NetProbes>()),
      state_(state ? *state : platform::SystemStateStore()) {
  settings.display_name = "QOV Lumo Service";
  settings.allow_pause = false;
  // After a crash the SCM restarts the service a minute later, twice; a day
  // without a crash makes both restarts available again.
  settings.recovery = {{60'000, 60'000}, 24 * 60 * 60};
  SetOnStart([this](TService& s, bool& f) { ServiceStart(s, f); });
  SetOnStop([this](TService& s, bool& f) { ServiceStop(s, f); });
  SetOnCustomControl([this](TService& s, std::uint32_t code) { ServiceCustomControl(s, code); });
  after_install = [this](TService& s) { ServiceAfterInstall(s); };
  after_uninstall = [this](TService& s) { ServiceAfterUninstall(s); };
}

Tqov_lumo_service::~Tqov_lumo_service() {
  // After a shutdown, a failed start or a stop that left a thread behind,
  // worker threads still run; they end with the process, without being
  // told, so their shared state must outlive them.
  if (runtime_ && !stopped_) (void)runtime_.release();
}

platform::ControlCallback Tqov_lumo_service::GetServiceController() const { return &ServiceController; }

bool Tqov_lumo_service::PrepareExitWithWorkersRunning(std::uint32_t limit_ms) {
  if (!runtime_ || stopped_) return false;
  runtime_->log.Drain(limit_ms);
  return true;
}

void Tqov_lumo_service::ServiceStart(TService&, bool& started) {
  stop_ran_ = false;
  runtime_ = std::make_unique<Runtime>(clock_, registry_, EventLogger());
  Runtime& rt = *runtime_;
  // The port object comes first: the supervisor hands it to the control
  // thread it creates, and that may happen at once.
  rt.port = std::make_unique<device::TComPort>();
  WireRun(rt, probes_, start_thread_, state_);
  rt.supervisor = std::make_unique<supervision::TSupervisorThread>(supervision::SupervisorContext{
      rt.clock, rt.registry, rt.log, rt.params, rt.flags, *rt.workers, *rt.reports, *rt.host});
  // The board's coming and going reaches the status record at once.
  rt.metrics.status_listener.store(&rt.supervisor->Stop().Wake());
  // A thread that cannot be created is a start failure: the error leaves
  // the handler before `started` is set. Nothing runs then, so nothing is kept.
  try {
    start_thread_(*rt.supervisor);
  } catch (...) {
    runtime_.reset();
    throw;
  }
  started = true;
}

void Tqov_lumo_service::ServiceStop(TService& sender, bool& stopped) {
  // A run already stopped (or never started) has nothing left to stop.
  if (!runtime_ || stop_ran_) {
    stopped = true;
    return;
  }
  stop_ran_ = true;
  Runtime& rt = *runtime_;
  RunWorkers& workers = *rt.workers;
  // No worker starts after this, so none can appear after its turn below.
  workers.CloseGate();
  const bool all_ended = StopInOrder(
      {
          {[&workers] { return workers.Control(); }, kControlLimitMs},
          {[&workers] { return workers.Checker(); }, kWorkerLimitMs},
          // The control thread may replace its receive thread until it has ended.
          {[&workers] { return workers.ReceiverOfEndedControl(); }, kWorkerLimitMs},
          {[&rt] { return rt.supervisor.get(); }, kWorkerLimitMs},
      },
      [&sender](std::uint32_t limit_ms) { sender.ReportProgress(limit_ms + kStepHintMarginMs); });
  stopped = true;
  // A thread left behind may still reach everything of the run: then
  // nothing is freed, and the process ends once the stop is reported.
  if (all_ended) {
    rt.metrics.status_listener.store(nullptr);
    rt.supervisor.reset();
    rt.workers.reset();
    rt.port.reset();
    stopped_ = true;
  }
  rt.events.Report(config::EventId::kServiceStopped, {});
  rt.events.SetEnabled(false);
  rt.log.Write("Service stopped");
  // Closed, so that a thread left behind cannot write after the last line.
  // A line still on a stalled disk holds the log's own thread, which the
  // run's end would wait for: the run is then left as with a thread behind,
  // and the process ends without waiting for the disk.
  if (!rt.log.Close()) stopped_ = false;
}

void Tqov_lumo_service::ServiceCustomControl(TService&, std::uint32_t code) {
  if (code != platform::kTestModemControl && code != platform::kTestComputerControl) return;
  const bool modem = code == platform::kTestModemControl;
  device::TQOVControlThread* control =
      runtime_ && !stop_ran_ && runtime_->workers ? runtime_->workers->StartedControl() : nullptr;
  if (control) {
    if (modem) {
      control->RequestTestModemReset();
    } else {
      control->RequestTestComputerReset();
    }
    return;
  }
  // No control thread yet (the start-up is still loading) or any more: the
  // command that asked learns at once that nothing was sent.
  if (runtime_ && !stop_ran_) {
    runtime_->log.Write(modem ? "modem reset requested by test" : "reset pc requested by test");
    runtime_->log.Write(modem ? "modem reset dropped: board not running" : "reset pc dropped: board not running");
  }
  (void)device::RecordTestOutcome(state_, modem ? device::TestKind::kModem : device::TestKind::kComputer,
                                  device::TestResult::kDropped, platform::UtcNowSeconds(), "board not running");
}

void Tqov_lumo_service::ServiceAfterInstall(TService&) {
  const std::string event_key = kEventLogKeyPrefix + settings.name;
  std::unique_ptr<platform::RegKey> current = registry_.Open(event_key, true);  // outcome not tested
  WriteValue(registry_, event_key, "EventMessageFile",
             [&](platform::RegKey& k) { return k.WriteString("EventMessageFile", sc_.ModuleFileName()); });
  if (!current || !current->WriteDword("TypesSupported", 7)) {
    throw std::runtime_error("Failed to set data for 'TypesSupported'");
  }
  WriteValue(registry_, kServicesKeyPrefix + settings.name, "Description",
             [](platform::RegKey& k) { return k.WriteString("Description", kDescription); });
}

void Tqov_lumo_service::ServiceAfterUninstall(TService&) { registry_.DeleteTree(kEventLogKeyPrefix + settings.name); }

}  // namespace qov::service
