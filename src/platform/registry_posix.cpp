#include "platform/memory_registry.h"

namespace qov::platform {

// No system registry here: a foreground run starts from an empty one, which
// means every configuration value keeps its default.
Registry& SystemRegistry() {
  static MemoryRegistry registry;
  return registry;
}

}  // namespace qov::platform
