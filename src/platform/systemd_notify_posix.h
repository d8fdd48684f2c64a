// The parts of systemd's service protocol the daemon uses at every start,
// spoken directly rather than through libsystemd (which maps half a dozen
// libraries): whether systemd runs the machine, status datagrams to
// $NOTIFY_SOCKET, and the watchdog interval systemd put in the environment.
#pragma once

#include <cstdint>
#include <string>

namespace qov::platform {

// Whether systemd is the machine's service manager (it made /run/systemd/system/).
bool SystemdBooted();

// Sends `state` ("READY=1", "WATCHDOG=1", ...; lines joined by '\n') to
// the socket named by $NOTIFY_SOCKET: a path, or an abstract name written
// with a leading '@'. False when there is no such socket or the send failed.
bool NotifySystemd(const std::string& state);

// The watchdog interval in microseconds systemd asks for ($WATCHDOG_USEC,
// meant for this process when $WATCHDOG_PID is unset or names it); 0 when none.
std::uint64_t SystemdWatchdogUsec();

}  // namespace qov::platform
