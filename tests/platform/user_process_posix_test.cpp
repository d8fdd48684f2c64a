#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/user_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace qov {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// A program is started as the token's user, never as root: the user of the
// session on seat0 in the service, here a process's owner. Needs root to
// switch users.
TEST(StartAsUserPosixTest, RunsAsTheTokensUserWithItsHomeAndNeverAsRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "switching users needs root";
  // A process owned by "nobody" lends its user, as a token process would.
  char* args[] = {const_cast<char*>("setpriv"), const_cast<char*>("--reuid=65534"), const_cast<char*>("--regid=65534"),
                  const_cast<char*>("--clear-groups"), const_cast<char*>("sleep"), const_cast<char*>("10"), nullptr};
  pid_t lender = 0;
  ASSERT_EQ(posix_spawnp(&lender, "setpriv", nullptr, nullptr, args, environ), 0);
  std::unique_ptr<platform::UserToken> token;
  for (int i = 0; i < 500 && !token; ++i) {
    // Right after the spawn the process may still be root's setpriv: the
    // token is taken only once it has become nobody, which it stays.
    std::ifstream status("/proc/" + std::to_string(lender) + "/status");
    std::string text((std::istreambuf_iterator<char>(status)), std::istreambuf_iterator<char>());
    if (text.find("Uid:\t65534") != std::string::npos) token = platform::ProcessUserToken(static_cast<std::uint32_t>(lender));
    if (!token) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(token, nullptr);

  test::TempDir dir;
  std::filesystem::permissions(dir.File(""), std::filesystem::perms::all);
  const std::string out = dir.File("out");
  const platform::CreateResult r =
      platform::StartProcessAsUser(*token, "/bin/sh -c \"echo $(id -u) $(id -g) $HOME >" + out + "\"");
  EXPECT_TRUE(r.created) << r.error;
  for (int i = 0; i < 500 && Slurp(out).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Slurp(out), "65534 65534 /nonexistent");

  const platform::CreateResult missing = platform::StartProcessAsUser(*token, "no-such-program-here");
  EXPECT_FALSE(missing.created);
  EXPECT_NE(missing.error, 0u);

  auto root = platform::ProcessUserToken(static_cast<std::uint32_t>(::getpid()));
  ASSERT_NE(root, nullptr);
  const platform::CreateResult as_root = platform::StartProcessAsUser(*root, "true");
  EXPECT_FALSE(as_root.created) << "never as root";

  ::kill(lender, SIGTERM);
  ::waitpid(lender, nullptr, 0);
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
