// The program's one service: its settings, the start and stop handlers that
// bring the worker threads up and take them down, and the install hooks that
// register the event-log source and the description.
#pragma once

#include <atomic>
#include <memory>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/state_store.h"
#include "service/runtime.h"
#include "service/service.h"
#include "supervision/checker.h"

namespace qov::service {

inline constexpr const char* kServiceName = "qov_lumo_service";
inline constexpr const char* kEventLogKeyPrefix = "\\SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\";
inline constexpr const char* kServicesKeyPrefix = "\\SYSTEM\\CurrentControlSet\\Services\\";
inline constexpr const char* kDescription = "QOV Lumo watchdog timer control service.";

class Tqov_lumo_service final : public TService {
 public:
  // `probes` serve the checks of every run (the network's by default);
  // `state` keeps what outlives a run (the system's by default).
  Tqov_lumo_service(platform::ServiceControl& sc, platform::Clock& clock, platform::Registry& registry,
                    std::shared_ptr<supervision::Probes> probes = nullptr, platform::StateStore* state = nullptr);
  ~Tqov_lumo_service() override;

  platform::ControlCallback GetServiceController() const override;

  // The handlers, on the service thread (start, stop) or the main thread (hooks).
  void ServiceStart(TService& sender, bool& started);
  void ServiceStop(TService& sender, bool& stopped);
  // An operator's test reset, handed to the control thread; dropped (and
  // the outcome recorded) when there is none.
  void ServiceCustomControl(TService& sender, std::uint32_t code);
  void ServiceAfterInstall(TService& sender);
  void ServiceAfterUninstall(TService& sender);

  // The shared state of the current run; null before the first start.
  Runtime* CurrentRuntime() { return runtime_.get(); }

  // After a system shutdown (no stop handler runs) or a stop that left a
  // thread behind, workers still run: the process must end without
  // destroying what they use. Writes out the log's queued lines first, for
  // at most `limit_ms`; false when every worker was freed.
  bool PrepareExitWithWorkersRunning(std::uint32_t limit_ms);

  // How worker threads are started; tests make creation fail with it.
  void SetThreadStarter(platform::ThreadStarter starter) { start_thread_ = std::move(starter); }

 private:
  platform::Clock& clock_;
  platform::Registry& registry_;
  std::shared_ptr<supervision::Probes> probes_;
  platform::StateStore& state_;
  platform::ThreadStarter start_thread_ = platform::StartThread;
  std::unique_ptr<Runtime> runtime_;
  // True once a stop has freed every thread; otherwise the run's shared
  // state must outlive the threads still running.
  bool stopped_ = false;
  // Set by the first stop of a run; the service thread alone reads and writes it.
  bool stop_ran_ = false;
};

// The module instance, filled at program start; the control callback reaches it through this.
extern std::atomic<Tqov_lumo_service*> qov_lumo_service;

// The control callback registered with the SCM.
void ServiceController(std::uint32_t code);

}  // namespace qov::service
