// The real probes against servers this test runs on 127.0.0.1.
#include "platform/net_probe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "supervision/net_probes.h"
#include "support/loopback_server.h"

namespace qov {
namespace {

using test::LoopbackServer;

std::string Response(const std::string& status_line, const std::string& extra_headers = "") {
  return "HTTP/1.1 " + status_line + "\r\n" + extra_headers + "Content-Length: 3\r\nConnection: close\r\n\r\nok\n";
}

std::string Target(const LoopbackServer& s, const std::string& path = "/") {
  return "127.0.0.1:" + std::to_string(s.Port()) + path;
}

// A port where nothing listens.
std::uint16_t ClosedPort() {
  LoopbackServer gone(Response("200 OK"));
  return gone.Port();
}

// Probes whose stop flag is never set.
class PatientProbes {
 public:
  explicit PatientProbes(std::uint32_t http_timeout_ms = supervision::kHttpProbeTimeoutMs) : probes_(http_timeout_ms) {}
  bool Http(const std::string& target) { return probes_.Http(target, never_).answered; }
  bool Icmp(const std::string& host, std::uint32_t timeout_ms) {
    return probes_.Icmp(host, timeout_ms, never_).answered;
  }

 private:
  supervision::NetProbes probes_;
  platform::StopRequest never_;
};

class HttpProbeTest : public ::testing::Test {
 protected:
  PatientProbes probes{3000};
};

TEST_F(HttpProbeTest, Status200Succeeds) {
  LoopbackServer s(Response("200 OK"));
  EXPECT_TRUE(probes.Http(Target(s, "/connecttest.txt")));
  const std::string request = s.LastRequest();
  EXPECT_EQ(request.rfind("GET /connecttest.txt HTTP/1.1\r\n", 0), 0u) << request;
  EXPECT_NE(request.find("User-Agent: InetURL:/1.0\r\n"), std::string::npos) << request;
}

TEST_F(HttpProbeTest, RedirectsAreFollowedToTheTargetsStatus) {
  LoopbackServer ok(Response("200 OK"));
  LoopbackServer missing(Response("404 Not Found"));
  LoopbackServer to_ok(Response("302 Found", "Location: http://" + Target(ok, "/") + "\r\n"));
  LoopbackServer to_missing(Response("301 Moved Permanently", "Location: http://" + Target(missing, "/") + "\r\n"));
  EXPECT_TRUE(probes.Http(Target(to_ok)));
  EXPECT_EQ(ok.Connections(), 1);
  EXPECT_FALSE(probes.Http(Target(to_missing)));
  EXPECT_EQ(missing.Connections(), 1);
}

TEST_F(HttpProbeTest, OnlyTheTwoStatusesSucceed) {
  LoopbackServer found(Response("302 Found"));  // no Location: the 302 itself is seen
  EXPECT_TRUE(probes.Http(Target(found)));
  for (const char* status : {"301 Moved Permanently", "204 No Content", "404 Not Found", "500 Internal Server Error"}) {
    LoopbackServer s(Response(status));
    EXPECT_FALSE(probes.Http(Target(s))) << status;
    EXPECT_EQ(s.Connections(), 1) << status;
  }
}

TEST_F(HttpProbeTest, RefusedConnectionFails) {
  EXPECT_FALSE(probes.Http("127.0.0.1:" + std::to_string(ClosedPort()) + "/"));
}

TEST_F(HttpProbeTest, SchemeRuleDecidesTheUrl) {
  LoopbackServer s(Response("200 OK"));
  EXPECT_TRUE(probes.Http("HTTP://" + Target(s)));
  // "https://..." is requested as written, over TLS: the plain server sees
  // a TLS handshake, not a GET, and the probe fails (a client may try the
  // handshake more than once).
  EXPECT_FALSE(probes.Http("https://" + Target(s)));
  EXPECT_GE(s.Connections(), 2);
  const std::string hello = s.LastRequest();
  ASSERT_GE(hello.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(hello[0]), 0x16) << "TLS handshake record expected";
  EXPECT_EQ(hello[1], 3);
  EXPECT_FALSE(probes.Http(""));
}

TEST_F(HttpProbeTest, ServerThatNeverAnswersFailsWithinTheBound) {
  LoopbackServer silent("");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(probes.Http(Target(silent)));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(silent.Connections(), 1);
  EXPECT_GE(took, std::chrono::milliseconds(2500));
  EXPECT_LT(took, std::chrono::seconds(10));
}

// A stop while the server accepts and never answers: the probe gives up
// within a quarter second and leaves the request to finish on its own.
TEST(ProbeStopTest, StopEndsAHangingHttpProbeLongBeforeItsTimeOut) {
  supervision::NetProbes probes(20000);
  auto owned = std::make_unique<LoopbackServer>("");
  LoopbackServer& silent = *owned;
  const std::string target = Target(silent);
  platform::StopRequest stop;
  std::thread stopper([&] {
    while (silent.Connections() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop.Set();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(probes.Http(Target(silent), stop).answered);
  stopper.join();
  // Within the checker's stop limit, far below the 20 s the request could take.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2) + std::chrono::milliseconds(500));
  // The request left behind ends once its server goes; the next probe waits
  // for it first, so the helper is idle, and joined, when the probes go
  // (a helper still inside the HTTP library at exit would hold its memory).
  owned.reset();
  platform::StopRequest never;
  EXPECT_FALSE(probes.Http(target, never).answered);
}

// A single label longer than 63 characters cannot be put into a query, so
// the resolver fails at once without asking any name server.
const std::string kUnresolvable(70, 'q');

TEST(ResolveTest, FirstIpv4AddressOrZeros) {
  EXPECT_EQ(platform::ResolveHost("127.0.0.1"), (platform::Ipv4Address{127, 0, 0, 1}));
  EXPECT_EQ(platform::ResolveHost("localhost")[0], 127);
  EXPECT_EQ(platform::ResolveHost(kUnresolvable), platform::Ipv4Address{});
}

TEST(IcmpProbeTest, LoopbackAnswersUnresolvableAndEmptyFail) {
  PatientProbes probes;
  EXPECT_TRUE(probes.Icmp("127.0.0.1", 2000));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(probes.Icmp(kUnresolvable, 2000));
  EXPECT_FALSE(probes.Icmp("", 2000));
  EXPECT_NE(platform::IcmpEcho("0.0.0.0", 500).fault, platform::ProbeFault::kNone);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

// A numeric echo runs on the caller's thread where the system can wait on
// the stop too: a wake-up that is not the stop is taken and ignored, a stop
// ends the wait with nothing long before the echo's time-out (240.0.0.1
// answers nobody; a system that refuses to send there fails at once, never
// by the time-out).
TEST(IcmpProbeTest, NumericEchoOnTheCallingThreadEndsOnlyAtTheStop) {
  if (!platform::CanEchoOnCallingThread("127.0.0.1")) GTEST_SKIP() << "echoes run on a helper here";
  EXPECT_FALSE(platform::CanEchoOnCallingThread("localhost"));
  EXPECT_FALSE(platform::CanEchoOnCallingThread(""));
  platform::StopRequest stop;
  stop.Wake().Signal();
  const auto answered = platform::IcmpEchoUntilStop("127.0.0.1", 5000, stop);
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->fault, platform::ProbeFault::kNone);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.Set();
  });
  const auto stopped = platform::IcmpEchoUntilStop("240.0.0.1", 60000, stop);
  stopper.join();
  if (stopped) {
    EXPECT_NE(stopped->fault, platform::ProbeFault::kTimedOut);
  }
  EXPECT_FALSE(platform::IcmpEchoUntilStop("127.0.0.1", 5000, stop)) << "a stop set before gives nothing";
}

}  // namespace
}  // namespace qov
