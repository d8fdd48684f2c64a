#include "config/config_import.h"

#include <cstdint>
#include <string>
#include <type_traits>

#include "config/param_rec.h"
#include "platform/text.h"

namespace qov::config {
namespace {

using platform::RegValue;

std::string ShownKey(const std::string& key) { return "HKEY_LOCAL_MACHINE" + key; }

bool InsideConfigKey(std::string_view key) {
  const std::string_view root = kConfigKey;
  return platform::StartsWithIgnoringCase(key, root) && (key.size() == root.size() || key[root.size()] == '\\');
}

bool IsConfigKey(std::string_view key) { return platform::EqualsIgnoringCase(key, kConfigKey); }

template <typename T>
constexpr RegValue::Type TypeOf() {
  return std::is_same_v<T, std::string> || std::is_same_v<T, CheckAddrList> ? RegValue::Type::String
                                                                             : RegValue::Type::Dword;
}

// check_addr_0 ... check_addr_<kMaxCheckAddrCount>.
bool IsCheckAddrEntry(std::string_view name) {
  constexpr std::string_view prefix = "check_addr_";
  if (!platform::StartsWithIgnoringCase(name, prefix)) return false;
  const std::string_view digits = name.substr(prefix.size());
  if (digits.empty() || digits.size() > 2) return false;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return n <= kMaxCheckAddrCount;
}

// The type the service reads value `name` of its configuration key as; none
// for a name it does not know (kept as it is, for another version perhaps).
std::optional<RegValue::Type> ExpectedType(std::string_view name) {
  if (IsCheckAddrEntry(name)) return RegValue::Type::String;
#define QOV_PARAM(field, type, default_value, limit, shown_at) \
  if (platform::EqualsIgnoringCase(name, #field)) return TypeOf<type>();
#include "config/param_fields.def"
  return std::nullopt;
}

const char* TypeName(RegValue::Type type) { return type == RegValue::Type::Dword ? "a DWORD" : "text"; }

class Planner final : public platform::RegeditTarget {
 public:
  explicit Planner(ConfigImport& plan) : plan_(plan) {}

  std::optional<std::string> CreateKey(const std::string& path) override {
    if (auto refused = Outside(path)) return refused;
    plan_.edits.push_back({RegistryEdit::Kind::kCreateKey, path, {}, {}});
    return std::nullopt;
  }
  std::optional<std::string> DeleteKey(const std::string& path) override {
    if (auto refused = Outside(path)) return refused;
    plan_.edits.push_back({RegistryEdit::Kind::kDeleteKey, path, {}, {}});
    return std::nullopt;
  }
  std::optional<std::string> SetValue(const std::string& path, const std::string& name,
                                      const RegValue& value) override {
    const std::string shown = name.empty() ? "the default value" : "value \"" + name + "\"";
    if (value.type == RegValue::Type::Other) {
      return shown + " is neither text nor a DWORD: the service reads no other type";
    }
    if (IsConfigKey(path)) {
      const auto expected = ExpectedType(name);
      if (expected && *expected != value.type) {
        return shown + " is " + TypeName(value.type) + "; the service reads it as " + TypeName(*expected);
      }
    }
    plan_.edits.push_back({RegistryEdit::Kind::kSetValue, path, name, value});
    ++plan_.value_count;
    return std::nullopt;
  }
  std::optional<std::string> DeleteValue(const std::string& path, const std::string& name) override {
    plan_.edits.push_back({RegistryEdit::Kind::kDeleteValue, path, name, {}});
    return std::nullopt;
  }

 private:
  static std::optional<std::string> Outside(const std::string& path) {
    if (InsideConfigKey(path)) return std::nullopt;
    return "the key \"" + ShownKey(path) + "\" is outside the service's configuration key \"" +
           ShownKey(kConfigKey) + "\"";
  }

  ConfigImport& plan_;
};

}  // namespace

ConfigImport PlanConfigImport(std::string_view text) {
  ConfigImport plan;
  Planner planner(plan);
  plan.error = platform::ParseRegedit(text, planner);
  if (plan.error) {
    plan.edits.clear();
    plan.value_count = 0;
  }
  return plan;
}

}  // namespace qov::config
