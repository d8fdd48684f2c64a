#include "platform/registry_setup.h"

namespace qov::platform {

bool PrepareSystemRegistry(int&, char**) { return true; }

}  // namespace qov::platform
