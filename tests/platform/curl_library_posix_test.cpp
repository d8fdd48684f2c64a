// libcurl is not linked: the HTTP probe loads it on first use, and a
// library that cannot be loaded fails the probe with its reason.
#include "platform/curl_library_posix.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "support/loopback_server.h"
#include "platform/net_probe.h"
#include "supervision/probe_reason.h"

namespace qov {
namespace {

using platform::CurlLibrary;
using test::LoopbackServer;
using platform::ProbeFault;

bool CurlMapped() {
  void* handle = ::dlopen(platform::kCurlSoname, RTLD_NOW | RTLD_NOLOAD);
  if (handle) ::dlclose(handle);  // only the count RTLD_NOLOAD added
  return handle != nullptr;
}

// Read while static objects are built, after every linked library is mapped
// and before any test could have probed.
const bool curl_mapped_at_start = CurlMapped();

std::string Url(const LoopbackServer& s) { return "http://127.0.0.1:" + std::to_string(s.Port()) + "/"; }

TEST(NetProbeCurlLibraryTest, LoadedOnTheFirstHttpProbeNotAtStart) {
  EXPECT_FALSE(curl_mapped_at_start) << "the program links libcurl";
  LoopbackServer s("HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  const platform::ProbeOutcome outcome = platform::HttpGet(Url(s), 3000);
  EXPECT_EQ(outcome.fault, ProbeFault::kNone);
  EXPECT_EQ(outcome.http_status, "204");
  EXPECT_EQ(s.Connections(), 1);
  EXPECT_TRUE(CurlMapped());
  EXPECT_TRUE(platform::SharedCurlLibrary().Error().empty()) << platform::SharedCurlLibrary().Error();
}

// A library that is missing, or that is not libcurl, makes every HTTP probe
// fail with the loader's reason and never reaches the network.
TEST(NetProbeCurlLibraryTest, UnavailableLibraryFailsTheProbeWithItsReason) {
  struct Case {
    const char* soname;
    const char* reason_part;  // what the system's loader says, in part
  };
  const Case cases[] = {
      {"libqov-no-such-curl.so.4", "libqov-no-such-curl.so.4"},
      {"libc.so.6", "curl_global_init"},  // loads, but has no curl functions
  };
  LoopbackServer s("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  for (const Case& c : cases) {
    const CurlLibrary library(c.soname);
    EXPECT_EQ(library.Functions(), nullptr) << c.soname;
    const platform::ProbeOutcome outcome = platform::HttpGetThrough(library, Url(s), 3000);
    EXPECT_EQ(outcome.fault, ProbeFault::kSystemError) << c.soname;
    const std::string reason = supervision::ProbeReason(outcome, 3000);
    EXPECT_EQ(reason.rfind("HTTP library not available: ", 0), 0u) << reason;
    EXPECT_NE(reason.find(c.reason_part), std::string::npos) << reason;
  }
  EXPECT_EQ(s.Connections(), 0);
}

}  // namespace
}  // namespace qov
