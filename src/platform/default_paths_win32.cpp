#include "platform/default_paths.h"

namespace qov::platform {

const char* DefaultLogFilePath() { return "c:\\qov_log.txt"; }

}  // namespace qov::platform
