#include "supervision/probe_reason.h"

#include <gtest/gtest.h>

#include <vector>

namespace qov::supervision {
namespace {

using platform::ProbeFault;
using platform::ProbeOutcome;

TEST(ProbeReasonTest, EachFaultHasItsWords) {
  struct Row {
    ProbeOutcome outcome;
    std::uint32_t timeout_ms;
    const char* words;
  };
  const std::vector<Row> rows = {
      {{ProbeFault::kNone, 0, "200"}, 30000, ""},
      {{ProbeFault::kInvalidTarget, 0, ""}, 30000, "invalid target"},
      {{ProbeFault::kNameNotResolved, 0, ""}, 30000, "name not resolved"},
      {{ProbeFault::kConnectionRefused, 0, ""}, 30000, "connection refused"},
      {{ProbeFault::kNetworkUnreachable, 0, ""}, 30000, "network unreachable"},
      {{ProbeFault::kHostUnreachable, 0, ""}, 30000, "host unreachable"},
      {{ProbeFault::kTimedOut, 0, ""}, 30000, "timed out after 30 s"},
      {{ProbeFault::kTimedOut, 0, ""}, 2000, "timed out after 2 s"},
      {{ProbeFault::kTimedOut, 0, ""}, 1500, "timed out after 2 s"},  // never shorter than it was
      {{ProbeFault::kHttpStatus, 0, "503"}, 30000, "status 503"},
      {{ProbeFault::kTlsUntrusted, 0, ""}, 30000, "TLS certificate not trusted"},
      {{ProbeFault::kTlsHandshake, 0, ""}, 30000, "TLS handshake failed"},
      {{ProbeFault::kNoHttpResponse, 0, ""}, 30000, "no HTTP response"},
      {{ProbeFault::kIcmpStatus, 11003, ""}, 2000, "ICMP reply status 11003 (destination host unreachable)"},
      {{ProbeFault::kIcmpStatus, 11002, ""}, 2000, "ICMP reply status 11002 (destination net unreachable)"},
      {{ProbeFault::kIcmpStatus, 11004, ""}, 2000, "ICMP reply status 11004 (destination protocol unreachable)"},
      {{ProbeFault::kIcmpStatus, 11005, ""}, 2000, "ICMP reply status 11005 (destination port unreachable)"},
      {{ProbeFault::kIcmpStatus, 11013, ""}, 2000, "ICMP reply status 11013 (TTL expired in transit)"},
      {{ProbeFault::kIcmpStatus, 11049, ""}, 2000, "ICMP reply status 11049"},
      {{ProbeFault::kNoReply, 0, ""}, 2000, "no reply"},
      {{ProbeFault::kSystemError, 12157, ""}, 2000, "error 12157"},
      {{ProbeFault::kSystemError, 2, "", "HTTP library not available: libcurl.so.4: cannot open shared object file"},
       2000, "HTTP library not available: libcurl.so.4: cannot open shared object file"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ProbeReason(r.outcome, r.timeout_ms), r.words) << static_cast<int>(r.outcome.fault);
  }
}

// ICMP error messages seen on POSIX read as the status Windows reports.
TEST(ProbeReasonTest, IcmpErrorMessagesMapToTheWindowsStatus) {
  struct Row {
    std::uint8_t type, code;
    std::uint32_t status;
  };
  for (const Row r : {Row{3, 0, 11002}, Row{3, 1, 11003}, Row{3, 2, 11004}, Row{3, 3, 11005}, Row{3, 4, 11009},
                      Row{3, 6, 11002}, Row{3, 10, 11003}, Row{3, 13, 11003}, Row{11, 0, 11013}, Row{11, 1, 11014},
                      Row{12, 0, 11015}, Row{0, 0, 0}, Row{8, 0, 0}, Row{5, 1, 0}}) {
    EXPECT_EQ(platform::IpStatusForIcmpError(r.type, r.code), r.status) << int{r.type} << "/" << int{r.code};
  }
}

}  // namespace
}  // namespace qov::supervision
