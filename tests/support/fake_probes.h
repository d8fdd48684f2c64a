// Probes that answer from a script and record what was asked.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/stop_request.h"
#include "supervision/checker.h"

namespace qov::test {

class FakeProbes final : public supervision::Probes {
 public:
  struct Call {
    std::string method;  // "HTTP" or "ICMP"
    std::string target;
    std::uint32_t timeout_ms;
  };

  supervision::ProbeResult Http(const std::string& target, platform::StopRequest& stop) override {
    return Answer({"HTTP", target, 0}, stop);
  }
  supervision::ProbeResult Icmp(const std::string& host, std::uint32_t timeout_ms,
                                platform::StopRequest& stop) override {
    return Answer({"ICMP", host, timeout_ms}, stop);
  }

  // Targets that answer; everything else fails.
  std::set<std::string> answering;
  // When set, decides instead of `answering`.
  std::function<bool(const Call&)> decide;
  // The reason a failing target gives; "no reply" for one not listed.
  std::map<std::string, std::string> reasons;
  std::vector<Call> calls;
  // When set, a probe of this target blocks until its stop flag is set, as
  // a hanging server or name server would, and then fails.
  std::string hanging_target;

 private:
  supervision::ProbeResult Answer(const Call& c, platform::StopRequest& stop) {
    calls.push_back(c);
    if (!hanging_target.empty() && c.target == hanging_target) {
      while (!stop.IsSet()) stop.Wake().Wait(platform::WakeEvent::kForever);
      return {};
    }
    if (decide ? decide(c) : answering.count(c.target) > 0) return {true, {}};
    const auto reason = reasons.find(c.target);
    return {false, reason != reasons.end() ? reason->second : "no reply"};
  }
};

}  // namespace qov::test
