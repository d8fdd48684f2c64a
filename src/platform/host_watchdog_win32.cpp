#include "platform/host_watchdog.h"

namespace qov::platform {

void FeedHostWatchdog() {}

}  // namespace qov::platform
