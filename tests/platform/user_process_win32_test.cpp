#include <gtest/gtest.h>

#include "platform/user_process.h"

namespace qov {
namespace {

TEST(StartAsUserWin32Test, StartsWithConsoleTokenAndReportsTheCreationError) {
  auto token = platform::ConsoleUserToken();
  ASSERT_NE(token, nullptr);
  EXPECT_TRUE(platform::StartProcessAsUser(*token, "cmd.exe /c exit 0").created);
  const platform::CreateResult missing = platform::StartProcessAsUser(*token, "C:\\no\\such\\program.exe");
  EXPECT_FALSE(missing.created);
  EXPECT_NE(missing.error, 0u);  // 2 (file not found) under Wine
}

}  // namespace
}  // namespace qov
