// The host's own watchdog of the service process (systemd's WatchdogSec= on
// Linux; nothing on Windows), fed by the supervisor so that a hung service
// is restarted.
#pragma once

#include <cstdint>

namespace qov::platform {

// How often the host wants to hear from the service, in milliseconds (half
// its time-out); 0 where there is no host watchdog.
std::int64_t HostWatchdogFeedPeriodMs();

// Tells the host the service is alive. Does nothing where there is no host
// watchdog.
void FeedHostWatchdog();

}  // namespace qov::platform
