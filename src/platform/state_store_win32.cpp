#include "platform/state_store.h"

namespace qov::platform {

StateStore& SystemStateStore() {
  static const std::unique_ptr<StateStore> store = RegistryStateStore(SystemRegistry());
  return *store;
}

std::string SystemStateFolder() { return {}; }

}  // namespace qov::platform
