// systemd without libsystemd at start: status datagrams and the watchdog
// interval are spoken directly, and the library itself is loaded only when
// the journal, the bus or logind is first needed.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/posix_fd.h"
#include "platform/status_host.h"
#include "platform/systemd_library_posix.h"
#include "platform/systemd_notify_posix.h"
#include "support/temp_dir.h"

namespace qov {
namespace {

using platform::UniqueFd;

bool SystemdMapped() {
  void* handle = ::dlopen(platform::kSystemdSoname, RTLD_NOW | RTLD_NOLOAD);
  if (handle) ::dlclose(handle);  // only the count RTLD_NOLOAD added
  return handle != nullptr;
}

// Read while static objects are built, after every linked library is mapped.
const bool systemd_mapped_at_start = SystemdMapped();

// Sets (or with nullopt unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A datagram socket bound to `name` as $NOTIFY_SOCKET writes it ('@': abstract).
UniqueFd BoundListener(const std::string& name) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, name.data(), name.size());
  if (name[0] == '@') address.sun_path[0] = '\0';
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
  if (!fd || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) return UniqueFd();
  return fd;
}

// The datagram waiting on `fd` ("" when none): a local datagram is queued
// by the time the send returns.
std::string Received(const UniqueFd& fd) {
  char buffer[512];
  const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

TEST(SystemdNotifyTest, StateReachesAPathOrAnAbstractSocket) {
  test::TempDir dir;
  const std::string names[] = {dir.File("notify.sock"), "@qov-notify-test-" + std::to_string(::getpid())};
  for (const std::string& name : names) {
    const UniqueFd listener = BoundListener(name);
    ASSERT_TRUE(listener) << name;
    ScopedEnv socket("NOTIFY_SOCKET", name);
    EXPECT_TRUE(platform::NotifySystemd("READY=1\nSTATUS=Running")) << name;
    EXPECT_EQ(Received(listener), "READY=1\nSTATUS=Running") << name;
  }
}

// The status record's first line is what `systemctl status` shows.
TEST(SystemdNotifyTest, TheStatusLineReachesTheNotifySocket) {
  test::TempDir dir;
  const UniqueFd listener = BoundListener(dir.File("notify.sock"));
  ASSERT_TRUE(listener);
  ScopedEnv socket("NOTIFY_SOCKET", dir.File("notify.sock"));
  platform::AnnounceStatusLine("QOV Lumo service: running since then; board running; checks passing");
  EXPECT_EQ(Received(listener), "STATUS=QOV Lumo service: running since then; board running; checks passing");
}

// A record names the process that wrote it; one that ended, waited for or
// not yet, no longer runs.
TEST(StatusHostTest, ProcessRunsUntilItEnds) {
  EXPECT_TRUE(platform::ProcessRuns(platform::CurrentProcessId()));
  EXPECT_FALSE(platform::ProcessRuns(0));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  // Ended but not waited for (WNOWAIT leaves it so): a zombie, which kill(0) still finds.
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(platform::ProcessRuns(static_cast<std::uint32_t>(child)));
  ASSERT_EQ(::kill(child, 0), 0) << "still a zombie";
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_FALSE(platform::ProcessRuns(static_cast<std::uint32_t>(child)));
}

TEST(SystemdNotifyTest, NoUsableSocketIsANoOp) {
  test::TempDir dir;
  const std::optional<std::string> names[] = {std::nullopt, "", "relative.sock", "@", dir.File("nobody-listens")};
  for (const auto& name : names) {
    ScopedEnv socket("NOTIFY_SOCKET", name);
    EXPECT_FALSE(platform::NotifySystemd("WATCHDOG=1")) << name.value_or("(unset)");
  }
}

TEST(SystemdNotifyTest, WatchdogIntervalIsForThisProcessOnly) {
  struct Case {
    std::optional<std::string> usec, pid;
    std::uint64_t expected;
  };
  const std::string self = std::to_string(::getpid());
  const std::string other = std::to_string(::getpid() + 1);
  const Case cases[] = {
      {std::nullopt, std::nullopt, 0},
      {"30000000", std::nullopt, 30000000},
      {"30000000", self, 30000000},
      {"30000000", other, 0},  // meant for a parent that kept its environment
      {"30000000", "x", 0},
      {"30s", std::nullopt, 0},
      {"", std::nullopt, 0},
      {"-5", std::nullopt, 0},
  };
  for (const Case& c : cases) {
    ScopedEnv usec("WATCHDOG_USEC", c.usec);
    ScopedEnv pid("WATCHDOG_PID", c.pid);
    EXPECT_EQ(platform::SystemdWatchdogUsec(), c.expected)
        << c.usec.value_or("(unset)") << " pid " << c.pid.value_or("(unset)");
  }
}

TEST(SystemdLibraryTest, LoadedOnFirstUseNotAtStart) {
  EXPECT_FALSE(systemd_mapped_at_start) << "the program links libsystemd";
  const platform::SystemdFunctions* systemd = platform::Systemd();
  ASSERT_NE(systemd, nullptr);
  EXPECT_EQ(platform::Systemd(), systemd);
  EXPECT_TRUE(SystemdMapped());
}

}  // namespace
}  // namespace qov
