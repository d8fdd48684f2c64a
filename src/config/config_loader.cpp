#include "config/config_loader.h"

#include <optional>
#include <type_traits>

namespace qov::config {
namespace {

using platform::RegValue;

class Reader {
 public:
  Reader(platform::RegKey& key, LoadResult& result) : key_(key), result_(result) {}

  // One value into its field: a DWORD for a flag or a number, a string for
  // a text; the field keeps its default when the value is not usable.
  void Read(const std::string& name, bool& field) {
    if (auto v = Get(name, RegValue::Type::Dword)) field = v->dword != 0;
  }
  void Read(const std::string& name, std::int32_t& field) {
    if (auto v = Get(name, RegValue::Type::Dword)) field = static_cast<std::int32_t>(v->dword);
  }
  void Read(const std::string& name, std::uint32_t& field) {
    if (auto v = Get(name, RegValue::Type::Dword)) field = v->dword;
  }
  void Read(const std::string& name, std::string& field) {
    auto v = Get(name, RegValue::Type::String);
    if (!v) return;
    if (HasControlCharacter(v->text)) {
      result_.control_character_values.push_back(name);
      result_.origins[name] = Origin::ControlCharacter;
      return;
    }
    field = v->text;
  }
  // The entries check_addr_0 to check_addr_<count>, count being already
  // read and bounded; entry count is read but never used. A missing entry
  // reads as empty.
  void Read(const std::string& name, CheckAddrList& list) {
    const std::int32_t count = result_.params.check_addr_count;
    if (count <= 0) return;  // no address: none is read
    for (int n = 0; n <= count; ++n) {
      const std::string entry = name + "_" + std::to_string(n);
      if (key_.ValueExists(entry)) {
        Read(entry, list[static_cast<std::size_t>(n)]);
      } else {
        list[static_cast<std::size_t>(n)].clear();
        result_.origins[entry] = Origin::Missing;
      }
    }
  }

  template <typename T>
  void Bound(const std::string& name, T& field, Limit limit) {
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
      if (limit == Limit::kAtLeastOne && field < 1) {
        field = 1;
        Clamped(name);
      } else if (limit == Limit::kAddressCount && (field <= 0 || field > kMaxCheckAddrCount)) {
        if (field != 0) Clamped(name);
        field = 0;
      }
    }
  }

 private:
  // A bound changed what was stored (or the default).
  void Clamped(const std::string& name) { result_.origins[name] = Origin::Clamped; }

  // The value when it exists with the expected type; a wrong type is noted.
  std::optional<RegValue> Get(const std::string& name, RegValue::Type type) {
    if (!key_.ValueExists(name)) return std::nullopt;
    auto v = key_.Read(name);
    if (!v) return std::nullopt;
    if (v->type != type) {
      result_.wrong_type_values.push_back(name);
      result_.origins[name] = Origin::WrongType;
      return std::nullopt;
    }
    result_.origins[name] = Origin::Set;
    return v;
  }

  platform::RegKey& key_;
  LoadResult& result_;
};

// A bound applies to a number only: a flag, a text or the list has none.
#define QOV_PARAM(name, type, default_value, limit, shown_at)                     \
  static_assert(Limit::limit == Limit::kNone ||                                    \
                    (std::is_integral_v<type> && !std::is_same_v<type, bool>),     \
                #name ": a bound applies to a number only");
#include "config/param_fields.def"

}  // namespace

LoadResult LoadConfig(platform::Registry& registry) {
  LoadResult result;
  TParamRec& p = result.params;
  if (!registry.KeyExists(kConfigKey)) return result;
  auto key = registry.Open(kConfigKey, false);
  if (!key) return result;
  Reader r(*key, result);
#define QOV_PARAM(name, type, default_value, limit, shown_at) \
  r.Read(#name, p.name);                                      \
  r.Bound(#name, p.name, Limit::limit);
#include "config/param_fields.def"
  return result;
}

std::string WrongTypeMessage(const std::string& value_name) {
  return "Invalid data type for '" + value_name + "', default kept";
}

std::string ControlCharacterMessage(const std::string& value_name) {
  return "Invalid control character in '" + value_name + "', default kept";
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

}  // namespace qov::config
