// Where the service keeps its files unless configured otherwise.
#pragma once

namespace qov::platform {

// The log file's default path: "c:\qov_log.txt" on Windows,
// "/var/log/qov_lumo.log" on Linux.
const char* DefaultLogFilePath();

}  // namespace qov::platform
