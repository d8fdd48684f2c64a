// Fills the configuration record from the registry, once per service start.
#pragma once

#include <string>
#include <vector>

#include "config/param_rec.h"
#include "platform/registry.h"

namespace qov::config {

struct LoadResult {
  TParamRec params;
  // Values stored with the wrong registry type; their fields kept the default.
  std::vector<std::string> wrong_type_values;
};

LoadResult LoadConfig(platform::Registry& registry);

// "Invalid data type for '<name>', default kept", logged once the log is open.
std::string WrongTypeMessage(const std::string& value_name);

}  // namespace qov::config
