// Text that is not an HTTP response, against libcurl: without a status line
// there is no answer. (WinInet takes such replies as HTTP/0.9 with status
// 200: see fault_net_win32_test.cpp.)
//
//   server answers                         expected outcome
//   -------------------------------------  ------------------------------------------------------------
//   an SSH banner                          fails
//   a body without a status line           fails
#include <gtest/gtest.h>

#include <atomic>

#include "supervision/net_probes.h"
#include "support/hostile_http_server.h"

namespace qov {
namespace {

using test::HostileHttpServer;

TEST(NetFaultPosixTest, RepliesWithoutAStatusLineAreNoAnswer) {
  supervision::NetProbes probes(3000);
  platform::StopRequest never;
  for (const char* reply : {"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n", "ok\n"}) {
    SCOPED_TRACE(reply);
    HostileHttpServer server(HostileHttpServer::Behaviour::kReply, reply);
    EXPECT_FALSE(probes.Http(server.Target("/check"), never).answered);
    EXPECT_EQ(server.Connections(), 1);
  }
}

}  // namespace
}  // namespace qov
