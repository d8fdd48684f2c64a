// The real process list and user tokens.
#include "platform/user_process.h"

#include <gtest/gtest.h>

#include "supervision/program_control.h"

namespace qov {
namespace {

TEST(ProcessListTest, ListsThisProcessByBareName) {
  const auto list = platform::ListProcesses();
  ASSERT_FALSE(list.empty());
  EXPECT_TRUE(supervision::ProcessRunning(list, "platform_tests") ||
              supervision::ProcessRunning(list, "PLATFORM_TESTS.EXE"));
  for (const auto& p : list) EXPECT_EQ(p.exe.find_first_of("/\\"), std::string::npos) << p.exe;
}

// The token of a running process is found through the real process list
// (this very process, by its listed id); a process that does not exist has
// none. On Linux no process lends its user: the seat's session alone says
// who the user is.
TEST(UserTokenTest, TokensOfListedProcessesAreDeliveredAndOfMissingOnesNot) {
  const auto list = platform::ListProcesses();
  std::uint32_t self = supervision::FindProcessId(list, "platform_tests");
  if (self == 0) self = supervision::FindProcessId(list, "platform_tests.exe");
  ASSERT_NE(self, 0u);
#ifdef _WIN32
  EXPECT_NE(platform::ProcessUserToken(self), nullptr);
#else
  EXPECT_EQ(platform::ProcessUserToken(self), nullptr);
#endif
  EXPECT_EQ(platform::ProcessUserToken(0xFFFFFFF0u), nullptr);
}

}  // namespace
}  // namespace qov
