#include "supervision/check_address.h"

namespace qov::supervision {
namespace {

constexpr std::size_t kMethodLength = 4;
constexpr std::size_t kTargetStart = 7;  // after the method word and " - "

std::string TargetOf(const std::string& entry) {
  return entry.size() > kTargetStart ? entry.substr(kTargetStart) : std::string();
}

}  // namespace

CheckAddress ParseCheckAddress(const std::string& entry) {
  const std::string method = entry.substr(0, kMethodLength);
  if (method == "HTTP") return {ProbeMethod::kHttp, TargetOf(entry)};
  if (method == "ICMP") return {ProbeMethod::kIcmp, TargetOf(entry)};
  return {ProbeMethod::kIcmp, entry};
}

}  // namespace qov::supervision
