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

TEST(UserTokenTest, ConsoleTokenIsDeliveredAndProcessTokensOfMissingProcessesAreNot) {
  EXPECT_NE(platform::ConsoleUserToken(), nullptr);
  EXPECT_EQ(platform::ProcessUserToken(0xFFFFFFF0u), nullptr);
}

}  // namespace
}  // namespace qov
