// Everything a service run shares between its threads: the configuration,
// the log, the run-time flags, the device mailbox, the port object and the
// references to each worker thread. One instance per service run.
#pragma once

#include <memory>
#include <mutex>

#include "config/log_writer.h"
#include "config/param_rec.h"
#include "device/com_port.h"
#include "device/control_thread.h"
#include "device/receive_thread.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "supervision/checker.h"
#include "supervision/run_flags.h"
#include "supervision/supervisor.h"

namespace qov::service {

struct Runtime {
  Runtime(platform::Clock& c, platform::Registry& r) : clock(c), registry(r) {}

  platform::Clock& clock;
  platform::Registry& registry;
  config::LogWriter log;
  config::TParamRec params;  // written by the supervisor before it starts other threads
  supervision::RunFlags flags;
  device::RcvMailbox mailbox;

  // Created by the start handler; freed by the stop handler, in this order:
  // control, checker, receiver, supervisor, then the port.
  std::unique_ptr<device::TComPort> port;
  std::unique_ptr<device::TQOVControlThread> control;     // created by the supervisor
  std::unique_ptr<supervision::TOSMonitorThread> checker;  // created by the supervisor
  std::unique_ptr<device::TComRcvThread> receiver;         // replaced by the control thread
  std::unique_ptr<supervision::TSupervisorThread> supervisor;

  // Guards `control` and `checker`: the supervisor sets them while the stop
  // handler may already be reading them.
  std::mutex thread_refs_mutex;
  device::TQOVControlThread* Control() {
    std::lock_guard lock(thread_refs_mutex);
    return control.get();
  }
  supervision::TOSMonitorThread* Checker() {
    std::lock_guard lock(thread_refs_mutex);
    return checker.get();
  }
  // Frees the thread objects in stop order, once every thread has ended.
  void FreeThreads() {
    {
      std::lock_guard lock(thread_refs_mutex);
      control.reset();
      checker.reset();
    }
    receiver.reset();
    supervisor.reset();
  }
};

}  // namespace qov::service
