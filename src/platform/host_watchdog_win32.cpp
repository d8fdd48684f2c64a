#include "platform/host_watchdog.h"

namespace qov::platform {

std::int64_t HostWatchdogFeedPeriodMs() { return 0; }

void FeedHostWatchdog() {}

}  // namespace qov::platform
