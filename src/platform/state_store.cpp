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
  using StateStore::Set;
  // Flushed at once: the value written just before a computer reset must
  // outlive it, and the system writes its registry out only now and then.
  bool Set(const std::string& name, const std::string& value, std::string* why) override {
    auto key = registry_.Open(kStateKey, true);
    const char* failed = !key                             ? "cannot open the State key"
                         : !key->WriteString(name, value) ? "cannot write the value"
                         : !key->Flush()                  ? "cannot flush the State key"
                                                          : nullptr;
    if (failed && why) *why = failed;
    return !failed;
  }

 private:
  Registry& registry_;
};

}  // namespace

std::unique_ptr<StateStore> RegistryStateStore(Registry& registry) { return std::make_unique<RegistryStore>(registry); }

}  // namespace qov::platform
