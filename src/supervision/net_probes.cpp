#include "supervision/net_probes.h"

#include "platform/net_probe.h"
#include "supervision/http_rules.h"

namespace qov::supervision {

bool NetProbes::Http(const std::string& target) {
  return IsAcceptedHttpStatus(platform::HttpStatusText(HttpUrlFor(target), http_timeout_ms_));
}

bool NetProbes::Icmp(const std::string& host, std::uint32_t timeout_ms) {
  return !host.empty() && platform::IcmpEcho(host, timeout_ms);
}

}  // namespace qov::supervision
