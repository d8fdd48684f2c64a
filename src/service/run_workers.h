// The control thread and the checker of one service run: made and started
// when the supervisor asks, stopped by the stop handler in its order. A gate
// closed at the stop's beginning keeps a late start (a start-up delay or a
// dial ending just then) from creating a worker the stop has passed.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "device/control_thread.h"
#include "platform/worker_thread.h"
#include "supervision/checker.h"
#include "supervision/workers.h"

namespace qov::service {

class RunWorkers final : public supervision::Workers {
 public:
  // Each makes its worker, not yet started; null makes none.
  using MakeControl = std::function<std::unique_ptr<device::TQOVControlThread>()>;
  using MakeChecker = std::function<std::unique_ptr<supervision::TOSMonitorThread>(device::ResetRequests*)>;

  RunWorkers(MakeControl make_control, MakeChecker make_checker, platform::ThreadStarter start_thread);
  // Frees the checker first: it reaches the control thread.
  ~RunWorkers() override;
  RunWorkers(const RunWorkers&) = delete;
  RunWorkers& operator=(const RunWorkers&) = delete;

  supervision::StartOutcome StartControlThread(std::string& error) override;
  supervision::StartOutcome StartChecker(std::string& error) override;
  const char* StuckWorker(platform::Tick now) override;

  // The stop handler's first step: from then on no worker is started, and
  // the two below may be read without the lock.
  void CloseGate();
  device::TQOVControlThread* Control() { return control_.get(); }
  platform::Stoppable* Checker() { return checker_.get(); }
  // The control thread once started, for a request from the service thread
  // while the run goes on (the supervisor may be starting it just then).
  device::TQOVControlThread* StartedControl();
  // The receive thread, once the control thread (which may replace it) has ended.
  platform::Stoppable* ReceiverOfEndedControl();

 private:
  // Starts `worker`'s thread; false with `error` set when it cannot be created.
  bool Launch(platform::WorkerThread& worker, std::string& error);

  MakeControl make_control_;
  MakeChecker make_checker_;
  platform::ThreadStarter start_thread_;
  // Guards the gate and the two workers while the supervisor may start one.
  std::mutex mutex_;
  bool open_ = true;
  bool control_made_ = false;
  bool checker_made_ = false;
  std::unique_ptr<device::TQOVControlThread> control_;
  std::unique_ptr<supervision::TOSMonitorThread> checker_;
};

}  // namespace qov::service
