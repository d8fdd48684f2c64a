// Fills the configuration record from the registry, once per service start.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "config/param_rec.h"
#include "platform/registry.h"

namespace qov::config {

// Where a value's effective setting came from.
// Missing: a check address that was not stored, which reads as empty.
// ControlCharacter: a text holding a control character, not taken.
enum class Origin { Default, Set, Clamped, WrongType, Missing, ControlCharacter };

struct LoadResult {
  TParamRec params;
  // Values stored with the wrong registry type; their fields kept the default.
  std::vector<std::string> wrong_type_values;
  // Text values holding a control character (a line break, an escape...);
  // their fields kept the default, so no such character reaches a log line
  // or a command line.
  std::vector<std::string> control_character_values;
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
// "Invalid control character in '<name>', default kept", logged likewise.
std::string ControlCharacterMessage(const std::string& value_name);

// True when `text` holds a byte below 0x20 or 0x7F.
bool HasControlCharacter(std::string_view text);

}  // namespace qov::config
