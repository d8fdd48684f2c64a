#include "supervision/probe_reason.h"

namespace qov::supervision {

std::string IpStatusName(std::uint32_t status) {
  switch (status) {
    case 11001: return "buffer too small";
    case 11002: return "destination net unreachable";
    case 11003: return "destination host unreachable";
    case 11004: return "destination protocol unreachable";
    case 11005: return "destination port unreachable";
    case 11006: return "no resources";
    case 11007: return "bad option";
    case 11008: return "hardware error";
    case 11009: return "packet too big";
    case 11010: return "request timed out";
    case 11011: return "bad request";
    case 11012: return "bad route";
    case 11013: return "TTL expired in transit";
    case 11014: return "TTL expired during reassembly";
    case 11015: return "parameter problem";
    case 11016: return "source quench";
    case 11017: return "option too big";
    case 11018: return "bad destination";
    case 11050: return "general failure";
    default: return "";
  }
}

std::string ProbeReason(const platform::ProbeOutcome& outcome, std::uint32_t timeout_ms) {
  using platform::ProbeFault;
  switch (outcome.fault) {
    case ProbeFault::kNone: return "";
    case ProbeFault::kInvalidTarget: return "invalid target";
    case ProbeFault::kNameNotResolved: return "name not resolved";
    case ProbeFault::kConnectionRefused: return "connection refused";
    case ProbeFault::kNetworkUnreachable: return "network unreachable";
    case ProbeFault::kHostUnreachable: return "host unreachable";
    case ProbeFault::kTimedOut: return "timed out after " + std::to_string((timeout_ms + 999) / 1000) + " s";
    case ProbeFault::kHttpStatus: return "status " + outcome.http_status;
    case ProbeFault::kTlsUntrusted: return "TLS certificate not trusted";
    case ProbeFault::kTlsHandshake: return "TLS handshake failed";
    case ProbeFault::kNoHttpResponse: return "no HTTP response";
    case ProbeFault::kIcmpStatus: {
      const std::string name = IpStatusName(outcome.code);
      return "ICMP reply status " + std::to_string(outcome.code) + (name.empty() ? "" : " (" + name + ")");
    }
    case ProbeFault::kNoReply: return "no reply";
    case ProbeFault::kSystemError:
      if (!outcome.detail.empty()) return outcome.detail;
      break;
  }
  return "error " + std::to_string(outcome.code);
}

}  // namespace qov::supervision
