// One service run: what its threads share (the configuration, the log, the
// metrics, the run-time flags, the device mailbox, the port object) and the
// threads themselves: the supervisor, and the control thread and the checker
// it asks for. The stop handler stops them through this object alone; the
// control thread owns the receive thread.
#pragma once

#include <memory>

#include "config/log_writer.h"
#include "config/param_rec.h"
#include "device/com_port.h"
#include "device/receive_thread.h"
#include "metrics/metrics.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "service/event_log_sink.h"
#include "supervision/run_flags.h"
#include "service/run_workers.h"
#include "supervision/supervisor.h"

namespace qov::service {

struct Runtime {
  Runtime(platform::Clock& c, platform::Registry& r, TEventLogger& event_log) : clock(c), registry(r), events(event_log) {
    log.CountFailuresIn(&metrics.log_write_failures);
    // Lines go to the disk from the log's own thread, so that no worker (the
    // control thread feeding the board above all) waits on a stalled disk.
    // The log's destructor stops it, after every worker is freed.
    log.Start();
  }

  platform::Clock& clock;
  platform::Registry& registry;
  // Kept in every run; written to a file only when metrics_file_path is set.
  metrics::Metrics metrics;
  config::LogWriter log;
  EventLogSink events;
  config::TParamRec params;  // written by the supervisor before it starts other threads
  supervision::RunFlags flags;
  device::RcvMailbox mailbox;

  // Created by the start handler in this order; freed by the stop handler in
  // the reverse one, as destruction would: the supervisor, then the workers
  // (the checker before the control thread it reaches), then the port.
  std::unique_ptr<device::TComPort> port;
  std::unique_ptr<RunWorkers> workers;
  // What the supervisor reports through and runs on the machine; they
  // outlive it.
  std::unique_ptr<supervision::RunReports> reports;
  std::unique_ptr<supervision::HostActions> host;
  std::unique_ptr<supervision::TSupervisorThread> supervisor;
};

}  // namespace qov::service
