// The service's configuration record: every tunable value, with its default.
// Each field's name is also the name of the registry value that sets it; the
// fields themselves are listed once, in param_fields.def.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/default_paths.h"

namespace qov::config {

inline constexpr const char* kConfigKey = "\\Software\\Vopa\\QOV Lumo";
inline constexpr int kMaxCheckAddrCount = 64;
inline constexpr const char* kDefaultCheckAddr = "HTTP - www.msftconnecttest.com/connecttest.txt";

// Entries 0 to check_addr_count are read; 0 to check_addr_count - 1 are used.
using CheckAddrList = std::array<std::string, kMaxCheckAddrCount + 1>;

// The bound the loader puts on a value once read.
enum class Limit {
  kNone,
  kAtLeastOne,     // below 1 is raised to 1
  kAddressCount,   // outside 1 ... kMaxCheckAddrCount is 0: no address
};

struct TParamRec {
#define QOV_PARAM(name, type, default_value, limit, shown_at) type name = default_value;
#include "config/param_fields.def"
};

}  // namespace qov::config
