// The checker's probes over the system's network stack.
#pragma once

#include <cstdint>
#include <string>

#include "platform/leavable_call.h"
#include "supervision/checker.h"

namespace qov::supervision {

// A probe that could block past a stop (a name look-up, an HTTP request, an
// echo the system cannot wait on together with the stop) runs on a helper
// thread: the checker gives up on it as soon as the stop is asked for and
// the helper finishes alone. An echo to a numeric address runs on the
// checker's own thread where the system allows it.
class NetProbes final : public Probes {
 public:
  explicit NetProbes(std::uint32_t http_timeout_ms = kHttpProbeTimeoutMs) : http_timeout_ms_(http_timeout_ms) {}

  ProbeResult Http(const std::string& target, platform::StopRequest& stop) override;
  // An empty host fails at once, with nothing sent.
  ProbeResult Icmp(const std::string& host, std::uint32_t timeout_ms, platform::StopRequest& stop) override;

 private:
  std::uint32_t http_timeout_ms_;
  platform::LeavableWorker worker_;
};

}  // namespace qov::supervision
