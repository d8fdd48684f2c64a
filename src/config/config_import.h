// A .reg file meant for the service's configuration key, read and checked as
// a whole before anything is written: the installer imports it (CONFIG_FILE)
// only when every line is right, so a bad file changes nothing.
//
// Refused, with the line and the reason: what the .reg parser refuses; a key
// outside HKEY_LOCAL_MACHINE\Software\Vopa\QOV Lumo; a value that is neither
// text nor a DWORD (the service reads no other type); a configuration value
// of the wrong type for its name (a DWORD where text belongs, or the reverse).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/regedit_file.h"
#include "platform/registry.h"

namespace qov::config {

struct RegistryEdit {
  enum class Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = Kind::kCreateKey;
  std::string key;  // relative to HKEY_LOCAL_MACHINE, "\Software\Vopa\QOV Lumo..."
  std::string name;
  platform::RegValue value;
};

struct ConfigImport {
  std::vector<RegistryEdit> edits;  // in file order; empty when `error` is set
  std::optional<platform::RegeditError> error;
  int value_count = 0;  // values set
};

ConfigImport PlanConfigImport(std::string_view text);

}  // namespace qov::config
