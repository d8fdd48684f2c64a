// How a network probe ended, in terms both backends share: each maps what
// its system said (a WinInet or Winsock error, an IP_* status, a CURLcode, an
// errno, an ICMP error message) to one of these, so that the same fault reads
// the same on every system.
#pragma once

#include <cstdint>
#include <string>

namespace qov::platform {

enum class ProbeFault : std::uint8_t {
  kNone,  // an echo reply, or an HTTP response (its status decides)
  kInvalidTarget,
  kNameNotResolved,
  kConnectionRefused,
  kNetworkUnreachable,
  kHostUnreachable,
  kTimedOut,
  kHttpStatus,  // a response whose status is not accepted: `http_status`
  kTlsUntrusted,
  kTlsHandshake,
  kNoHttpResponse,  // closed, reset, or bytes that are not HTTP
  kIcmpStatus,      // an ICMP error for our request: `code` is its IP_* status
  kNoReply,
  kSystemError,  // anything else: `code` is the system's own code
};

struct ProbeOutcome {
  ProbeFault fault = ProbeFault::kNone;
  std::uint32_t code = 0;
  std::string http_status;  // the status text of an HTTP response
  std::string detail = {};  // for kSystemError: what went wrong, when a code cannot say it
};

// The Windows IP_* status numbers, which the POSIX backend reports too.
inline constexpr std::uint32_t kIpStatusBase = 11000;
inline constexpr std::uint32_t kIpReqTimedOut = 11010;
inline constexpr std::uint32_t kIpGeneralFailure = 11050;

// The IP_* status an ICMP error message (type, code) stands for, as Windows
// reports it for an echo; 0 for a message that is not an error.
inline std::uint32_t IpStatusForIcmpError(std::uint8_t type, std::uint8_t code) {
  constexpr std::uint8_t kUnreachable = 3, kSourceQuench = 4, kTimeExceeded = 11, kParameterProblem = 12;
  switch (type) {
    case kUnreachable:
      switch (code) {
        case 0: case 6: case 9: case 11: return 11002;  // net (unknown, prohibited, for TOS)
        case 2: return 11004;                           // protocol
        case 3: return 11005;                           // port
        case 4: return 11009;                           // fragmentation needed: packet too big
        case 5: return 11012;                           // source route failed: bad route
        default: return 11003;                          // host, and the administrative codes
      }
    case kSourceQuench: return 11016;
    case kTimeExceeded: return code == 1 ? 11014 : 11013;
    case kParameterProblem: return 11015;
    default: return 0;
  }
}

}  // namespace qov::platform
