#include "service/qov_lumo_service.h"

#include <stdexcept>

#include "service/runtime_wiring.h"
#include "service/stop_sequence.h"

namespace qov::service {
namespace {

constexpr std::uint32_t kControlLimitMs = 5000;
constexpr std::uint32_t kWorkerLimitMs = 2000;

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
                                     platform::Registry& registry)
    : TService(sc, kServiceName), clock_(clock), registry_(registry) {
  settings.display_name = "QOV Lumo Service";
  settings.allow_pause = false;
  SetOnStart([this](TService& s, bool& f) { ServiceStart(s, f); });
  SetOnStop([this](TService& s, bool& f) { ServiceStop(s, f); });
  after_install = [this](TService& s) { ServiceAfterInstall(s); };
  after_uninstall = [this](TService& s) { ServiceAfterUninstall(s); };
}

Tqov_lumo_service::~Tqov_lumo_service() {
  // After a shutdown (or a failed start) the worker threads still run; they
  // end with the process, without being told, so the device's timer is not
  // stopped. Their shared state must outlive them.
  if (runtime_ && !stopped_) (void)runtime_.release();
}

platform::ControlCallback Tqov_lumo_service::GetServiceController() const { return &ServiceController; }

void Tqov_lumo_service::ServiceStart(TService&, bool& started) {
  runtime_ = std::make_unique<Runtime>(clock_, registry_);
  Runtime& rt = *runtime_;
  // The port object comes first: the supervisor hands it to the control
  // thread it creates, and that may happen at once.
  rt.port = std::make_unique<device::TComPort>();
  rt.supervisor = std::make_unique<supervision::TSupervisorThread>(
      supervision::SupervisorContext{rt.clock, rt.registry, rt.log, rt.params, rt.flags}, MakeSupervisorSeams(rt));
  rt.supervisor->Start();
  started = true;
}

void Tqov_lumo_service::ServiceStop(TService&, bool& stopped) {
  Runtime& rt = *runtime_;
  StopInOrder({
      {[&rt] { return rt.Control(); }, kControlLimitMs},
      {[&rt] { return rt.Checker(); }, kWorkerLimitMs},
      {[&rt] { return rt.receiver.get(); }, kWorkerLimitMs},
      {[&rt] { return rt.supervisor.get(); }, kWorkerLimitMs},
  });
  rt.FreeThreads();
  stopped = true;
  stopped_ = true;
  rt.port.reset();
  rt.log.Write("Service stopped");
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
