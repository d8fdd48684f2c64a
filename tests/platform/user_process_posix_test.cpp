#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/process.h"
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

// A watched child runs until it ends, and is then seen as ended even
// though the kernel reaps it.
TEST(WatchedProcessTest, RunsUntilItEndsAndMissingProgramsGiveNothing) {
  auto child = platform::StartWatchedProcess("sleep 0.3");
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(child->Running());
  for (int i = 0; i < 1000 && child->Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(child->Running());
  EXPECT_EQ(platform::StartWatchedProcess("/nonexistent/program"), nullptr);
}

}  // namespace
}  // namespace qov
