#include "platform/default_paths.h"

namespace qov::platform {

const char* DefaultLogFilePath() { return "c:\\qov_log.txt"; }

const char* ConfigurationUsageText() {
  return "Configuration: the registry key HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo.\n";
}

}  // namespace qov::platform
