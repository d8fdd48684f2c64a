#include "platform/state_store.h"

namespace qov::platform {

std::optional<std::string> StateStore::PublishStatus(const std::string& text) {
  std::string why = "cannot store the status record";
  if (Set(kStatusValueName, text, &why)) return std::nullopt;
  return why;
}

std::optional<std::string> StateStore::ReadStatus() { return Get(kStatusValueName); }

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
  // One value, written at once; the registry writes it out in its own time.
  std::optional<std::string> PublishStatus(const std::string& text) override {
    auto key = registry_.Open(kStateKey, true);
    if (!key) return "cannot open the State key";
    if (!key->WriteString(kStatusValueName, text)) return "cannot write the value " + std::string(kStatusValueName);
    return std::nullopt;
  }

 private:
  Registry& registry_;
};

}  // namespace

std::unique_ptr<StateStore> RegistryStateStore(Registry& registry) { return std::make_unique<RegistryStore>(registry); }

}  // namespace qov::platform
