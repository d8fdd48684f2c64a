#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/session_user_posix.h"
#include "platform/systemd_notify_posix.h"
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

// A program is started as the token's user with that user's home and the
// session's display, never as root. Needs root to switch users.
TEST(StartAsUserPosixTest, RunsAsTheTokensUserWithItsHomeAndDisplayAndNeverAsRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "switching users needs root";
  if (platform::SystemdBooted()) GTEST_SKIP() << "under systemd the program starts in a unit of its own";
  auto token = platform::MakeUserToken({65534, {"DISPLAY=:7", "XAUTHORITY=/tmp/xa"}});

  test::TempDir dir;
  std::filesystem::permissions(dir.File(""), std::filesystem::perms::all);
  const std::string out = dir.File("out");
  const platform::CreateResult r = platform::StartProcessAsUser(
      *token, "/bin/sh -c \"echo $(id -u) $(id -g) $HOME $DISPLAY $XAUTHORITY >" + out + "\"");
  EXPECT_TRUE(r.created) << r.error;
  for (int i = 0; i < 500 && Slurp(out).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Slurp(out), "65534 65534 /nonexistent :7 /tmp/xa");

  const platform::CreateResult missing = platform::StartProcessAsUser(*token, "no-such-program-here");
  EXPECT_FALSE(missing.created);
  EXPECT_NE(missing.error, 0u);

  auto root = platform::MakeUserToken({0, {}});
  const platform::CreateResult as_root = platform::StartProcessAsUser(*root, "true");
  EXPECT_FALSE(as_root.created) << "never as root";
}

// Any local user can run a process of the token process's name: on Linux
// such a process lends nobody its user, not even this very process.
TEST(StartAsUserPosixTest, NoProcessLendsItsUser) {
  EXPECT_EQ(platform::ProcessUserToken(static_cast<std::uint32_t>(::getpid())), nullptr);
  EXPECT_EQ(platform::ProcessUserToken(1), nullptr);
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Under systemd the program is handed to systemd-run, which is waited for
// so that its refusal is seen; the service's ignoring of its children's
// ends does not hide that. A stand-in records what it is asked.
TEST(StartAsUserPosixTest, SystemdRunIsAskedForTheUsersUnitAndItsFailureIsReported) {
  ASSERT_TRUE(platform::StartProcess("true"));  // the service's way with children is in force
  const uid_t uid = ::geteuid() == 0 ? 65534 : ::geteuid();
  auto token = platform::MakeUserToken({uid, {"DISPLAY=:5"}});
  test::TempDir dir;
  auto stand_in = [&](const std::string& name, int exit_code) {
    const std::string path = dir.File(name);
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >" << dir.File(name + ".args") << "\nexit " << exit_code
                        << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  };

  const platform::CreateResult ok =
      platform::StartProcessAsUserVia(*token, "true \"two words\"", stand_in("systemd-run", 0));
  EXPECT_TRUE(ok.created) << ok.error;
  const auto args = Lines(dir.File("systemd-run.args"));
  ASSERT_GE(args.size(), 3u);
  EXPECT_EQ(args[args.size() - 3], "--");
  EXPECT_EQ(std::filesystem::path(args[args.size() - 2]).filename(), "true");
  EXPECT_TRUE(std::filesystem::path(args[args.size() - 2]).is_absolute());
  EXPECT_EQ(args.back(), "two words");
  auto has = [&](const std::string& arg) { return std::find(args.begin(), args.end(), arg) != args.end(); };
  EXPECT_TRUE(has("--uid=" + std::to_string(uid)));
  EXPECT_TRUE(has("--setenv=DISPLAY=:5"));

  const platform::CreateResult refused =
      platform::StartProcessAsUserVia(*token, "true", stand_in("refusing-systemd-run", 3));
  EXPECT_FALSE(refused.created);
  EXPECT_EQ(refused.error, 3u);

  const platform::CreateResult missing = platform::StartProcessAsUserVia(*token, "true", dir.File("none"));
  EXPECT_FALSE(missing.created);
  EXPECT_EQ(missing.error, static_cast<std::uint32_t>(ENOENT));
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

// The service blocks its stop signals and ignores others; a program it
// starts must not inherit either, or it could not be stopped or told of a
// hang-up. Both ways of starting one are asked.
TEST(WatchedProcessTest, ChildrenStartWithNoSignalBlockedOrIgnored) {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigset_t old_mask;
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, &old_mask), 0);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction old_hup {};
  struct sigaction old_usr2 {};
  ::sigaction(SIGHUP, &ignore, &old_hup);
  ::sigaction(SIGUSR2, &ignore, &old_usr2);

  test::TempDir dir;
  for (const bool watched : {false, true}) {
    SCOPED_TRACE(watched ? "StartWatchedProcess" : "StartProcess");
    const std::string out = dir.File(watched ? "watched" : "plain");
    const std::string command = "/bin/sh -c \"grep -E '^Sig(Blk|Ign)' /proc/self/status >" + out + ".tmp && mv " +
                                out + ".tmp " + out + "\"";
    if (watched) {
      EXPECT_NE(platform::StartWatchedProcess(command), nullptr);
    } else {
      EXPECT_TRUE(platform::StartProcess(command));
    }
    for (int i = 0; i < 1000 && !std::filesystem::exists(out); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream in(out);
    std::string blocked, ignored;
    in >> blocked >> blocked >> ignored >> ignored;  // "SigBlk:\t<hex>\nSigIgn:\t<hex>"
    EXPECT_EQ(blocked, "0000000000000000");
    // The C library's own signals, which no program may use, are the only
    // ones its spawn leaves ignored.
    const unsigned long long ignored_bits = std::stoull(ignored.empty() ? "0" : ignored, nullptr, 16);
    for (int sig = 1; sig < 64; ++sig) {
      sigset_t probe;
      sigemptyset(&probe);
      if (ignored_bits >> (sig - 1) & 1) {
        EXPECT_NE(sigaddset(&probe, sig), 0) << "signal " << sig << " ignored";
      }
    }
  }

  ::sigaction(SIGUSR2, &old_usr2, nullptr);
  ::sigaction(SIGHUP, &old_hup, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
}

}  // namespace
}  // namespace qov
