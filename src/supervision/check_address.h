// How a check-address entry names its probe: characters 1-4 give the method
// word, 5-7 are a separator that is skipped, the target starts at 8.
#pragma once

#include <string>

namespace qov::supervision {

enum class ProbeMethod { kHttp, kIcmp };

struct CheckAddress {
  ProbeMethod method;
  std::string target;
};

// "HTTP - host/path" and "ICMP - host" name their method (exact case); any
// other entry is pinged as a whole.
CheckAddress ParseCheckAddress(const std::string& entry);

}  // namespace qov::supervision
