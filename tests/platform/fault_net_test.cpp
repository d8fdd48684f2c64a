// Hostile check targets against the real probes (libcurl natively, WinInet
// under Wine), each row with the outcome it must have. Every probe must end
// within its time-out (3 s here, bounded below by 10 s so a loaded machine
// cannot fail it). The probe asks whether the target can be reached: a
// status 200 or 302 that the client reads is an answer however odd the rest
// of the reply, anything without one is not.
//
//   server / target                                     expected outcome
//   --------------------------------------------------  ------------------------------------------
//   accepts and never answers                           fails at its time-out
//   closes at once (before reading the request)         fails
//   "200" with a 64 KiB reason phrase                   answers: the status was read
//   "200" and then 256 KiB of headers                   answers: the status was read
//   status line cut short ("HTTP/1.1 20", then closed)  fails
//   "200" line, headers cut short, then closed          answers: the status was read
//   binary bytes that are not HTTP                      fails
//   (an SSH banner and a body without a status line:
//   see fault_net_posix_test.cpp / fault_net_win32_test.cpp)
//   256 KiB of bytes without a line end                 fails
//   the answer sent a byte every 2 s (whole, or after   fails at its time-out, which bounds the
//   the status line at once)                            whole probe, not each receive
//   ICMP to a name that cannot be resolved (a label     fails, with nothing sent
//   over 63 characters, a 64 KiB name, empty labels)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/net_probe.h"
#include "supervision/net_probes.h"
#include "support/hostile_http_server.h"

namespace qov {
namespace {

using test::HostileHttpServer;
using Behaviour = HostileHttpServer::Behaviour;
using Steady = std::chrono::steady_clock;

constexpr std::uint32_t kTimeoutMs = 3000;
// Far above the time-out: only a probe that ignores it runs into this.
constexpr auto kBound = std::chrono::seconds(10);

std::string Headers(std::size_t total) {
  std::string h;
  for (int n = 0; h.size() < total; ++n) h += "X-Filler-" + std::to_string(n) + ": " + std::string(100, 'h') + "\r\n";
  return h;
}

struct HttpRow {
  const char* fault;
  Behaviour behaviour;
  std::string reply;
  bool answers;        // the expectation
  bool waits_timeout;  // fails only once the time-out has passed
};

TEST(NetFaultTest, HostileHttpServersFailTheProbeWithinItsTimeOut) {
  const std::vector<HttpRow> rows = {
      {"accepts and never answers", Behaviour::kHold, "", false, true},
      {"closes at once", Behaviour::kCloseAtOnce, "", false, false},
      {"200 with a 64 KiB reason phrase", Behaviour::kReply,
       "HTTP/1.1 200 " + std::string(64 << 10, 'r') + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", true,
       false},
      {"200 and 256 KiB of headers", Behaviour::kReply,
       "HTTP/1.1 200 OK\r\n" + Headers(256 << 10) + "Content-Length: 0\r\nConnection: close\r\n\r\n", true, false},
      {"status line cut short", Behaviour::kReply, "HTTP/1.1 20", false, false},
      {"headers cut short", Behaviour::kReply, "HTTP/1.1 200 OK\r\nContent-Len", true, false},
      {"a 503 with 256 KiB of headers", Behaviour::kReply,
       "HTTP/1.1 503 Busy\r\n" + Headers(256 << 10) + "Content-Length: 0\r\nConnection: close\r\n\r\n", false, false},
      {"not HTTP: binary", Behaviour::kReply, std::string("\x16\x03\x01\x00\x05\x00\x00\x00\x00\xff", 10), false,
       false},
      {"256 KiB without a line end", Behaviour::kReply, std::string(256 << 10, 'x'), false, false},
      // The control row: a well-formed answer.
      {"a plain 200", Behaviour::kReply, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nok\n", true,
       false},
  };
  supervision::NetProbes probes(kTimeoutMs);
  platform::StopRequest never;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fault);
    HostileHttpServer server(row.behaviour, row.reply);
    const auto start = Steady::now();
    EXPECT_EQ(probes.Http(server.Target("/check"), never).answered, row.answers);
    const auto took = Steady::now() - start;
    EXPECT_GE(server.Connections(), 1) << "the request reached the server";
    EXPECT_LT(took, kBound);
    if (row.waits_timeout) {
      EXPECT_GE(took, std::chrono::milliseconds(kTimeoutMs) - std::chrono::milliseconds(100));
    }
  }
}

// No single receive ever waits its time-out on a server that sends a byte
// every 2 s: only the probe's one bound for the whole ends it, as a
// time-out, and a status line already read is no answer while the rest of
// the head is still coming.
TEST(NetFaultTest, AServerThatDripsItsAnswerFailsAtTheProbesTotalBound) {
  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  const std::vector<std::pair<const char*, std::size_t>> rows = {
      {"every byte dripped", 0},
      {"the status line at once, the headers dripped", std::string("HTTP/1.1 200 OK\r\n").size()},
  };
  supervision::NetProbes probes(kTimeoutMs);
  platform::StopRequest never;
  for (const auto& [fault, at_once] : rows) {
    SCOPED_TRACE(fault);
    HostileHttpServer server(Behaviour::kDrip, reply, at_once);
    const auto start = Steady::now();
    const supervision::ProbeResult result = probes.Http(server.Target("/check"), never);
    const auto took = Steady::now() - start;
    EXPECT_FALSE(result.answered);
    EXPECT_EQ(result.reason, "timed out after 3 s");
    EXPECT_GE(took, std::chrono::milliseconds(kTimeoutMs) - std::chrono::milliseconds(100));
    EXPECT_LT(took, kBound);
  }
}

TEST(NetFaultTest, IcmpToNamesThatCannotBeResolvedFails) {
  const std::vector<std::pair<const char*, std::string>> rows = {
      {"a label of 70 characters", std::string(70, 'q')},
      {"a 64 KiB name", std::string(64 << 10, 'n')},
      {"64 KiB of dotted labels", [] {
         std::string s;
         while (s.size() < (64u << 10)) s += "abcdefgh.";
         return s + "example";
       }()},
      {"empty labels", "a..b"},
  };
  supervision::NetProbes probes;
  platform::StopRequest never;
  for (const auto& [fault, host] : rows) {
    SCOPED_TRACE(fault);
    EXPECT_EQ(platform::ResolveHost(host), platform::Ipv4Address{});
    EXPECT_FALSE(probes.Icmp(host, 2000, never).answered);
  }
}

}  // namespace
}  // namespace qov
