// Network probes: host resolution, one ICMP echo, one HTTP GET. The socket
// library is started once when the process starts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/probe_outcome.h"
#include "platform/stop_request.h"

namespace qov::platform {

// Four bytes in network order; 0.0.0.0 stands for a failed resolution.
using Ipv4Address = std::array<std::uint8_t, 4>;

// Whether an echo call's outcome is an answer: at least one reply stored,
// and the first one an echo reply (status 0, IP_SUCCESS). Error replies
// such as 11003 (destination host unreachable, sent by a gateway while the
// link is down) are stored as replies too and must not count.
inline bool EchoAnswered(std::uint32_t replies_stored, std::uint32_t first_status) {
  return replies_stored != 0 && first_status == 0;
}

// The first IPv4 address of `host`, or 0.0.0.0.
Ipv4Address ResolveHost(const std::string& host);

// Resolves `host` and sends one echo request without payload; kNone when a
// reply came back within `timeout_ms`. A failed resolution is never a reply.
ProbeOutcome IcmpEcho(const std::string& host, std::uint32_t timeout_ms);

// True where IcmpEchoUntilStop can run `host`'s echo on the calling thread:
// the address is numeric, so no name look-up can block, and the system can
// wait for the reply and the stop at once. Elsewhere the caller runs
// IcmpEcho where it can be left behind.
bool CanEchoOnCallingThread(const std::string& host);
// IcmpEcho that gives up, with nothing, as soon as `stop` is set; other
// wake-ups of the stop's event are taken and ignored.
std::optional<ProbeOutcome> IcmpEchoUntilStop(const std::string& host, std::uint32_t timeout_ms, StopRequest& stop);

// GETs `url` (no cache, redirects followed, body not read): kNone with the
// final status code as text once a response's head has come whole.
// `timeout_ms` bounds the whole probe (a server that sends a byte now and
// then fails it as a time-out), and also the send and each receive, and the
// connect where the system honours it.
ProbeOutcome HttpGet(const std::string& url, std::uint32_t timeout_ms);

}  // namespace qov::platform
