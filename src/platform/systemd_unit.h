// The systemd unit that runs the service as a Linux daemon.
#pragma once

#include <string>

namespace qov::platform {

inline constexpr const char* kSystemdUnitDir = "/etc/systemd/system";
// Seconds within which the daemon must feed systemd's watchdog; it feeds
// at half that, from the supervisor's loop.
inline constexpr int kSystemdWatchdogSec = 30;

// The unit file text for a notify-type daemon started as `exec_start` (the
// executable's absolute path, quoted when it holds a blank), restarted on
// failure and watched by systemd's watchdog.
std::string SystemdUnitText(const std::string& description, const std::string& exec_start);

}  // namespace qov::platform
