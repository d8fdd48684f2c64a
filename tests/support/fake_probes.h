// Probes that answer from a script and record what was asked.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "supervision/checker.h"

namespace qov::test {

class FakeProbes final : public supervision::Probes {
 public:
  struct Call {
    std::string method;  // "HTTP" or "ICMP"
    std::string target;
    std::uint32_t timeout_ms;
  };

  bool Http(const std::string& target) override { return Answer({"HTTP", target, 0}); }
  bool Icmp(const std::string& host, std::uint32_t timeout_ms) override { return Answer({"ICMP", host, timeout_ms}); }

  // Targets that answer; everything else fails.
  std::set<std::string> answering;
  // When set, decides instead of `answering`.
  std::function<bool(const Call&)> decide;
  std::vector<Call> calls;

 private:
  bool Answer(const Call& c) {
    calls.push_back(c);
    return decide ? decide(c) : answering.count(c.target) > 0;
  }
};

}  // namespace qov::test
