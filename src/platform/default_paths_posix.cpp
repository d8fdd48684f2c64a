#include "platform/default_paths.h"

namespace qov::platform {

const char* DefaultLogFilePath() { return "/var/log/qov_lumo.log"; }

const char* ConfigurationUsageText() {
  return "  --config FILE read the configuration from FILE instead of /etc/qov_lumo/qov_lumo.reg\n"
         "Configuration: a REGEDIT4 file; it must be owned by root and writable by no one else.\n";
}

}  // namespace qov::platform
