// What one service run shares between its threads: the configuration, the
// log, the run-time flags, the device mailbox and the port object. The
// supervisor owns the workers it starts; the control thread owns the
// receive thread. One instance per service run.
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

  // Created by the start handler, port first; freed by the stop handler,
  // supervisor (with every worker) first. Declared so that destruction
  // frees the supervisor before anything its workers reach.
  std::unique_ptr<device::TComPort> port;
  std::unique_ptr<supervision::TSupervisorThread> supervisor;
};

}  // namespace qov::service
