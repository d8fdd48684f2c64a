// Connects the supervisor's seams to the real worker threads and platform
// services of one service run.
#pragma once

#include <memory>

#include "platform/state_store.h"
#include "service/runtime.h"
#include "supervision/checker.h"
#include "supervision/supervisor.h"

namespace qov::service {

// `probes` serve every check of the run; `start_thread` starts each worker;
// `state` keeps what outlives the run (the computer resets).
supervision::SupervisorSeams MakeSupervisorSeams(Runtime& rt, std::shared_ptr<supervision::Probes> probes,
                                                 platform::ThreadStarter start_thread, platform::StateStore& state);

}  // namespace qov::service
