#include "platform/state_store.h"

namespace qov::platform {
namespace {

class RegistryStore final : public StateStore {
 public:
  explicit RegistryStore(Registry& registry) : registry_(registry) {}
  std::optional<std::string> Get(const std::string& name) override {
    auto key = registry_.Open(kStateKey, false);
    if (!key) return std::nullopt;
    auto value = key->Read(name);
    if (!value || value->type != RegValue::Type::String) return std::nullopt;
    return value->text;
  }
  bool Set(const std::string& name, const std::string& value) override {
    auto key = registry_.Open(kStateKey, true);
    return key && key->WriteString(name, value);
  }

 private:
  Registry& registry_;
};

}  // namespace

std::unique_ptr<StateStore> RegistryStateStore(Registry& registry) { return std::make_unique<RegistryStore>(registry); }

}  // namespace qov::platform
