// Connects the supervisor's seams to the real worker threads and platform
// services of one service run.
#pragma once

#include "service/runtime.h"
#include "supervision/supervisor.h"

namespace qov::service {

supervision::SupervisorSeams MakeSupervisorSeams(Runtime& rt);

}  // namespace qov::service
