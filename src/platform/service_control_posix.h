// The Linux daemon's service control with its view of the system's state
// replaced: tests tell a system shutdown apart from a service stop with it.
#pragma once

#include <functional>
#include <memory>

#include "platform/service_control.h"

namespace qov::platform {

// `system_stopping` answers, at each SIGTERM, whether the whole system is
// going down; SIGTERM is then the shutdown control, else the stop control.
// With `control_fifo` the dispatcher also takes the service's own codes from
// the FIFO in the state folder (ControlFifoPath), as the system's daemon does.
std::unique_ptr<ServiceControl> MakeDaemonServiceControl(std::function<bool()> system_stopping,
                                                         bool control_fifo = false);

}  // namespace qov::platform
