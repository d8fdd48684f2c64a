// Who a supervised program runs as on Linux, and the systemd-run call that
// starts it: decided from facts, no logged-in seat needed.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/session_user_posix.h"

namespace qov::platform {
namespace {

SeatSession Active(uid_t uid, const char* session_class, const char* type, const char* display = "") {
  return {"3", uid, session_class, type, display};
}

TEST(ChooseSessionUserTest, OnlyAPersonsGraphicalSessionAtSeat0GetsTheProgramWithItsDisplay) {
  const std::vector<std::string> leader_x11 = {"PATH=/bin", "XAUTHORITY=/run/user/1000/gdm/Xauthority", "DISPLAY=:9"};
  const std::vector<std::string> leader_wayland = {"WAYLAND_DISPLAY=wayland-0", "XDG_RUNTIME_DIR=/run/user/1001",
                                                   "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1001/bus"};
  struct Case {
    const char* what;
    std::optional<SeatSession> active;
    uid_t uid_min;
    std::vector<std::vector<std::string>> environments;
    bool runtime_dir_exists;
    std::optional<uid_t> uid;
    std::vector<std::string> env;
  };
  const Case cases[] = {
      {"nobody at seat0", std::nullopt, 1000, {}, false, std::nullopt, {}},
      {"greeter only", Active(120, "greeter", "wayland"), 1000, {leader_wayland}, true, std::nullopt, {}},
      {"greeter of a person's uid", Active(1000, "greeter", "x11", ":0"), 1000, {}, false, std::nullopt, {}},
      {"lock screen", Active(1000, "lock-screen", "x11", ":0"), 1000, {}, false, std::nullopt, {}},
      {"root's session", Active(0, "user", "x11", ":0"), 0, {leader_x11}, false, std::nullopt, {}},
      {"system account", Active(999, "user", "x11", ":0"), 1000, {}, false, std::nullopt, {}},
      {"below a raised UID_MIN", Active(1500, "user", "x11", ":0"), 2000, {}, false, std::nullopt, {}},
      {"text console", Active(1000, "user", "tty"), 1000, {}, false, std::nullopt, {}},
      {"x11: logind's display wins, Xauthority from the leader",
       Active(1000, "user", "x11", ":0"), 1000, {leader_x11}, false, 1000,
       {"DISPLAY=:0", "XAUTHORITY=/run/user/1000/gdm/Xauthority"}},
      {"wayland: socket, runtime dir and bus from the leader", Active(1001, "user", "wayland"), 1000,
       {leader_wayland}, true, 1001,
       {"WAYLAND_DISPLAY=wayland-0", "XDG_RUNTIME_DIR=/run/user/1001",
        "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1001/bus"}},
      {"a variable from a later process when the leader lacks it", Active(1001, "user", "wayland"), 1000,
       {{"PATH=/bin"}, {"WAYLAND_DISPLAY=wayland-1", "DISPLAY=:1"}, {"WAYLAND_DISPLAY=wayland-2"}}, false, 1001,
       {"DISPLAY=:1", "WAYLAND_DISPLAY=wayland-1"}},
      {"mir, runtime dir known only by its existence", Active(1002, "user", "mir"), 1000, {}, true, 1002,
       {"XDG_RUNTIME_DIR=/run/user/1002", "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1002/bus"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SessionFacts facts{c.active, c.uid_min, c.environments, c.runtime_dir_exists};
    const auto user = ChooseSessionUser(facts);
    ASSERT_EQ(user.has_value(), c.uid.has_value());
    if (!user) continue;
    EXPECT_EQ(user->uid, *c.uid);
    EXPECT_EQ(user->env, c.env);
  }
}

TEST(ChooseSessionUserTest, UidMinComesFromLoginDefsOr1000) {
  struct Case {
    const char* text;
    uid_t uid_min;
  };
  const Case cases[] = {
      {"", 1000},
      {"# UID_MIN 5\nUID_MAX 60000\n", 1000},
      {"SYS_UID_MIN 100\nUID_MIN\t\t\t 2000\n", 2000},
      {"UID_MIN_X 7\n  UID_MIN 500\n", 500},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.text);
    EXPECT_EQ(ParseUidMin(in), c.uid_min) << c.text;
  }
}

TEST(SystemdRunArgumentsTest, StartsTheWordsAsTheUserInATransientUnitOfTheUsersSlice) {
  SystemdRun run{1000, 1000, "qov-program-7", "/home/ann", {"DISPLAY=:0", "HOME=/home/ann"},
                 {"/usr/bin/agent", "-q", "two words"}};
  const std::vector<std::string> expected = {"systemd-run",
                                             "--unit=qov-program-7",
                                             "--uid=1000",
                                             "--gid=1000",
                                             "--slice=user-1000.slice",
                                             "--property=RemainAfterExit=yes",
                                             "--collect",
                                             "--quiet",
                                             "--property=WorkingDirectory=-/home/ann",
                                             "--setenv=DISPLAY=:0",
                                             "--setenv=HOME=/home/ann",
                                             "--",
                                             "/usr/bin/agent",
                                             "-q",
                                             "two words"};
  EXPECT_EQ(SystemdRunArguments(run), expected);

  // Without a home nothing names a working directory, and the program's
  // words still follow "--" alone.
  run.home.clear();
  run.env.clear();
  run.words = {"/bin/true"};
  const std::vector<std::string> bare = {
      "systemd-run", "--unit=qov-program-7", "--uid=1000", "--gid=1000", "--slice=user-1000.slice",
      "--property=RemainAfterExit=yes", "--collect", "--quiet", "--", "/bin/true"};
  EXPECT_EQ(SystemdRunArguments(run), bare);
}

}  // namespace
}  // namespace qov::platform
