#include "supervision/net_probes.h"

#include <memory>
#include <optional>
#include <utility>

#include "platform/net_probe.h"
#include "supervision/http_rules.h"
#include "supervision/probe_reason.h"

namespace qov::supervision {
namespace {

using platform::ProbeFault;
using platform::ProbeOutcome;

// Runs `probe` on the worker. Its outcome comes back through a slot of its
// own, which a probe given up on may still fill after the caller has left.
template <class Probe>
std::optional<ProbeOutcome> RunLeavable(platform::LeavableWorker& worker, Probe probe, platform::StopRequest& stop) {
  auto slot = std::make_shared<ProbeOutcome>();
  const auto done = worker.Run(
      [slot, probe] {
        *slot = probe();
        return true;
      },
      stop);
  if (!done) return std::nullopt;
  return std::move(*slot);
}

ProbeResult ResultOf(const ProbeOutcome& outcome, std::uint32_t timeout_ms) {
  if (outcome.fault == ProbeFault::kNone) return {true, {}};
  return {false, ProbeReason(outcome, timeout_ms)};
}

}  // namespace

ProbeResult NetProbes::Http(const std::string& target, platform::StopRequest& stop) {
  const std::string url = HttpUrlFor(target);
  const std::uint32_t timeout_ms = http_timeout_ms_;
  std::optional<ProbeOutcome> outcome =
      RunLeavable(worker_, [url, timeout_ms] { return platform::HttpGet(url, timeout_ms); }, stop);
  if (!outcome) return {};
  if (outcome->fault == ProbeFault::kNone && !IsAcceptedHttpStatus(outcome->http_status)) {
    outcome->fault = ProbeFault::kHttpStatus;
  }
  return ResultOf(*outcome, timeout_ms);
}

ProbeResult NetProbes::Icmp(const std::string& host, std::uint32_t timeout_ms, platform::StopRequest& stop) {
  if (host.empty()) return ResultOf({ProbeFault::kInvalidTarget, 0, {}}, timeout_ms);
  // A numeric address needs no look-up: where the system can also wait for
  // the stop, the echo runs here and no helper is woken.
  const std::optional<ProbeOutcome> outcome =
      platform::CanEchoOnCallingThread(host)
          ? platform::IcmpEchoUntilStop(host, timeout_ms, stop)
          : RunLeavable(worker_, [host, timeout_ms] { return platform::IcmpEcho(host, timeout_ms); }, stop);
  if (!outcome) return {};
  return ResultOf(*outcome, timeout_ms);
}

}  // namespace qov::supervision
