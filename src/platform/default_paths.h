// Where the service keeps its files unless configured otherwise.
#pragma once

namespace qov::platform {

// The log file's default path: "c:\qov_log.txt" on Windows,
// "/var/log/qov_lumo.log" on Linux.
const char* DefaultLogFilePath();

// The usage's lines on where the configuration comes from.
const char* ConfigurationUsageText();

}  // namespace qov::platform
