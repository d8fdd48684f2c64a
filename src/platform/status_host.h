// What the status record needs of the system: the process that writes it,
// whether a process still runs, and the host's own status line of the
// service (systemd's STATUS=; none on Windows, where -STATUS reads the record).
#pragma once

#include <cstdint>
#include <string>

namespace qov::platform {

std::uint32_t CurrentProcessId();

// True while the process `pid` runs (a process that ended but was not yet
// waited for does not); false for 0.
bool ProcessRuns(std::uint32_t pid);

// Shows `line` as the service's status where the host shows one
// (`systemctl status` under systemd); nothing elsewhere.
void AnnounceStatusLine(const std::string& line);

}  // namespace qov::platform
