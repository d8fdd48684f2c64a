// Fills the configuration record from the registry, once per service start.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "config/param_rec.h"
#include "platform/registry.h"

namespace qov::config {

// Where a value's effective setting came from.
// Missing: a check address that was not stored, which reads as empty.
enum class Origin { Default, Set, Clamped, WrongType, Missing };

struct LoadResult {
  TParamRec params;
  // Values stored with the wrong registry type; their fields kept the default.
  std::vector<std::string> wrong_type_values;
  // Every value read that was not left at its default, by name; a value
  // missing here kept its default because it was not stored.
  std::map<std::string, Origin> origins;

  Origin OriginOf(const std::string& name) const {
    const auto it = origins.find(name);
    return it == origins.end() ? Origin::Default : it->second;
  }
};

LoadResult LoadConfig(platform::Registry& registry);

// "Invalid data type for '<name>', default kept", logged once the log is open.
std::string WrongTypeMessage(const std::string& value_name);

}  // namespace qov::config
