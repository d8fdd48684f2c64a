// Connects the supervisor's seams to the real worker threads and platform
// services of one service run.
#pragma once

#include <memory>

#include "service/runtime.h"
#include "supervision/checker.h"
#include "supervision/supervisor.h"

namespace qov::service {

// `probes` serve every check of the run; `start_thread` starts each worker.
supervision::SupervisorSeams MakeSupervisorSeams(Runtime& rt, std::shared_ptr<supervision::Probes> probes,
                                                 platform::ThreadStarter start_thread);

}  // namespace qov::service
