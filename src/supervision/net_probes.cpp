#include "supervision/net_probes.h"

#include "platform/net_probe.h"
#include "supervision/http_rules.h"

namespace qov::supervision {

bool NetProbes::Http(const std::string& target, const std::atomic<bool>& stop) {
  const std::string url = HttpUrlFor(target);
  const std::uint32_t timeout_ms = http_timeout_ms_;
  return worker_.Run([url, timeout_ms] { return IsAcceptedHttpStatus(platform::HttpStatusText(url, timeout_ms)); }, stop)
      .value_or(false);
}

bool NetProbes::Icmp(const std::string& host, std::uint32_t timeout_ms, const std::atomic<bool>& stop) {
  if (host.empty()) return false;
  return worker_.Run([host, timeout_ms] { return platform::IcmpEcho(host, timeout_ms); }, stop).value_or(false);
}

}  // namespace qov::supervision
