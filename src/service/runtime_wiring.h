// Connects one service run's workers and the supervisor's reports and host
// actions to the real threads and platform services.
#pragma once

#include <memory>

#include "platform/state_store.h"
#include "service/runtime.h"
#include "supervision/checker.h"

namespace qov::service {

// Makes the run's workers, reports and host actions (into `rt`).
// `probes` serve every check of the run; `start_thread` starts each worker;
// `state` keeps what outlives the run (the computer resets).
void WireRun(Runtime& rt, std::shared_ptr<supervision::Probes> probes, platform::ThreadStarter start_thread,
             platform::StateStore& state);

}  // namespace qov::service
