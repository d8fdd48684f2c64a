#include <gtest/gtest.h>

#include "platform/net_probe.h"
#include "supervision/check_address.h"
#include "supervision/http_rules.h"
#include "supervision/net_probes.h"

namespace qov::supervision {
namespace {

TEST(CheckAddressTest, MethodWordSeparatorAndTarget) {
  auto a = ParseCheckAddress("HTTP - www.example.org/x");
  EXPECT_EQ(a.method, ProbeMethod::kHttp);
  EXPECT_EQ(a.target, "www.example.org/x");
  a = ParseCheckAddress("ICMP - 127.0.0.1");
  EXPECT_EQ(a.method, ProbeMethod::kIcmp);
  EXPECT_EQ(a.target, "127.0.0.1");
  // Characters 5-7 are skipped whatever they hold.
  EXPECT_EQ(ParseCheckAddress("HTTPxyzhost").target, "host");
  EXPECT_EQ(ParseCheckAddress("ICMP://h").target, "h");
}

TEST(CheckAddressTest, EverythingElseIsPingedWhole) {
  auto a = ParseCheckAddress("127.0.0.1");
  EXPECT_EQ(a.method, ProbeMethod::kIcmp);
  EXPECT_EQ(a.target, "127.0.0.1");
  a = ParseCheckAddress("http - host");  // case-sensitive method word
  EXPECT_EQ(a.method, ProbeMethod::kIcmp);
  EXPECT_EQ(a.target, "http - host");
  EXPECT_EQ(ParseCheckAddress("").target, "");
}

TEST(CheckAddressTest, ShortEntriesWithMethodHaveEmptyTarget) {
  EXPECT_EQ(ParseCheckAddress("HTTP").method, ProbeMethod::kHttp);
  EXPECT_EQ(ParseCheckAddress("HTTP").target, "");
  EXPECT_EQ(ParseCheckAddress("ICMP - ").target, "");
  EXPECT_EQ(ParseCheckAddress("ICMP - x").target, "x");
}

TEST(HttpRulesTest, PrefixAddedUnlessASchemeLeadsOrHttpAppearsAnywhere) {
  EXPECT_EQ(HttpUrlFor("host/path"), "http://host/path");
  EXPECT_EQ(HttpUrlFor("HTTP://Host/P"), "HTTP://Host/P");
  EXPECT_EQ(HttpUrlFor("https://host/"), "https://host/");
  EXPECT_EQ(HttpUrlFor("HTTPS://host/"), "HTTPS://host/");
  EXPECT_EQ(HttpUrlFor("host/?u=https://x"), "http://host/?u=https://x");
  EXPECT_EQ(HttpUrlFor("host/?u=http://x"), "host/?u=http://x");
  EXPECT_EQ(HttpUrlFor(""), "http://");
}

TEST(HttpRulesTest, OnlyExactly200Or302Succeed) {
  EXPECT_TRUE(IsAcceptedHttpStatus("200"));
  EXPECT_TRUE(IsAcceptedHttpStatus("302"));
  for (const char* s : {"", "204", "301", "304", "404", "2000", " 200", "200 "}) {
    EXPECT_FALSE(IsAcceptedHttpStatus(s)) << s;
  }
}

// Only a stored echo reply answers; the error replies a gateway sends while
// the modem link is down are stored as replies too.
TEST(EchoRuleTest, OnlyAStoredReplyWithSuccessStatusAnswers) {
  struct Case {
    std::uint32_t replies, status;
    bool answered;
  };
  for (const Case c : {Case{1, 0, true}, Case{2, 0, true}, Case{0, 0, false}, Case{1, 11003, false},
                       Case{1, 11002, false}, Case{1, 11010, false}, Case{1, 11013, false}}) {
    EXPECT_EQ(platform::EchoAnswered(c.replies, c.status), c.answered) << c.replies << " / " << c.status;
  }
}

TEST(NetProbesTest, EmptyIcmpHostFailsWithoutTouchingTheNetwork) {
  NetProbes probes;
  platform::StopRequest no_stop;
  EXPECT_FALSE(probes.Icmp("", 20000, no_stop).answered);
}

}  // namespace
}  // namespace qov::supervision
