// The reason a real probe gives for each fault a loopback server can stage:
// the same words from libcurl and sockets natively and from WinInet and
// IcmpSendEcho under Wine.
//
//   target                                   reason
//   ---------------------------------------  -----------------------
//   a port where nothing listens             connection refused
//   a server answering 503                   status 503
//   a server that accepts and never answers  timed out after 1 s
//   a server that closes at once             no HTTP response
//   a name that does not resolve (HTTP)      name not resolved
//   a name that does not resolve (ICMP)      name not resolved
//   a server answering 200, 127.0.0.1 ICMP   (answered, no reason)
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "supervision/net_probes.h"
#include "support/hostile_http_server.h"

namespace qov {
namespace {

using test::HostileHttpServer;
using Behaviour = HostileHttpServer::Behaviour;

constexpr std::uint32_t kTimeoutMs = 1000;
// ".invalid" is reserved: no name server may answer it.
const std::string kUnresolvable = "qov-unresolvable.invalid";

std::uint16_t ClosedPort() {
  HostileHttpServer gone(Behaviour::kCloseAtOnce);
  return gone.Port();
}

struct Row {
  const char* target;
  // Probes it, given servers of its own, and returns the result.
  std::function<supervision::ProbeResult(supervision::NetProbes&, platform::StopRequest&)> probe;
  supervision::ProbeResult expected;
};

supervision::ProbeResult HttpTo(Behaviour behaviour, const std::string& reply, supervision::NetProbes& probes,
                                platform::StopRequest& never) {
  HostileHttpServer server(behaviour, reply);
  return probes.Http(server.Target("/check"), never);
}

TEST(ProbeReasonWordsTest, EachStagedFaultGivesItsWords) {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  const std::string busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  const std::vector<Row> rows = {
      {"refused port",
       [](auto& p, auto& never) { return p.Http("127.0.0.1:" + std::to_string(ClosedPort()) + "/", never); },
       {false, "connection refused"}},
      {"503", [&](auto& p, auto& never) { return HttpTo(Behaviour::kReply, busy, p, never); }, {false, "status 503"}},
      {"never answers", [](auto& p, auto& never) { return HttpTo(Behaviour::kHold, "", p, never); },
       {false, "timed out after 1 s"}},
      {"closes at once", [](auto& p, auto& never) { return HttpTo(Behaviour::kCloseAtOnce, "", p, never); },
       {false, "no HTTP response"}},
      {"HTTP to an unresolvable name", [](auto& p, auto& never) { return p.Http(kUnresolvable + "/", never); },
       {false, "name not resolved"}},
      {"ICMP to an unresolvable name", [](auto& p, auto& never) { return p.Icmp(kUnresolvable, kTimeoutMs, never); },
       {false, "name not resolved"}},
      {"200", [&](auto& p, auto& never) { return HttpTo(Behaviour::kReply, ok, p, never); }, {true, ""}},
      {"ICMP to 127.0.0.1", [](auto& p, auto& never) { return p.Icmp("127.0.0.1", 2000, never); }, {true, ""}},
  };
  supervision::NetProbes probes(kTimeoutMs);
  platform::StopRequest never;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    const supervision::ProbeResult got = row.probe(probes, never);
    EXPECT_EQ(got.answered, row.expected.answered);
    EXPECT_EQ(got.reason, row.expected.reason);
  }
}

}  // namespace
}  // namespace qov
