#include "platform/default_paths.h"

namespace qov::platform {

const char* DefaultLogFilePath() { return "/var/log/qov_lumo.log"; }

}  // namespace qov::platform
