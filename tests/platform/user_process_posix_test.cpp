#include <gtest/gtest.h>

#include "platform/user_process.h"

namespace qov {
namespace {

TEST(StartAsUserPosixTest, StartsWithOwnTokenAndReportsMissingPrograms) {
  auto token = platform::ConsoleUserToken();
  ASSERT_NE(token, nullptr);
  EXPECT_TRUE(platform::StartProcessAsUser(*token, "true").created);
  const platform::CreateResult missing = platform::StartProcessAsUser(*token, "/nonexistent/program");
  EXPECT_FALSE(missing.created);
  EXPECT_NE(missing.error, 0u);
}

}  // namespace
}  // namespace qov
