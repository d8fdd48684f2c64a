// The host's own watchdog of the service process (systemd's WatchdogSec= on
// Linux; nothing on Windows), fed from the supervisor's loop so that a hung
// service is restarted.
#pragma once

namespace qov::platform {

// Tells the host the service is alive; cheap to call on every pass, it
// sends only as often as the host asks. Does nothing where there is no
// host watchdog.
void FeedHostWatchdog();

}  // namespace qov::platform
