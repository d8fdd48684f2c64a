// Who a supervised program runs as on Linux, and how it is started there:
// decisions made from gathered facts, so they can be checked without a
// logged-in seat.
#pragma once

#include <sys/types.h>

#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_process.h"

namespace qov::platform {

// What logind tells of the active session on seat0.
struct SeatSession {
  std::string id;
  uid_t uid = 0;
  std::string session_class;  // "user", "greeter", "lock-screen", ...
  std::string type;           // "x11", "wayland", "mir", "tty", ...
  std::string display;        // the X display logind knows, may be empty
};

struct SessionFacts {
  std::optional<SeatSession> active;  // none: nobody at seat0
  uid_t uid_min = 1000;               // the first uid of a person, not a system account
  // Environments ("NAME=value" each) of the session's processes, the
  // session leader's first: a variable comes from the first that has it.
  std::vector<std::vector<std::string>> environments;
  bool runtime_dir_exists = false;  // /run/user/<uid>
};

// The user a program starts as, with the session's own variables
// ("NAME=value": DISPLAY, WAYLAND_DISPLAY, XAUTHORITY, XDG_RUNTIME_DIR,
// DBUS_SESSION_BUS_ADDRESS, those that are known).
struct SessionUser {
  uid_t uid = 0;
  std::vector<std::string> env;
};

// The active graphical session's user on seat0, or nobody: not at a greeter
// or lock screen, not on a text console, never root or a system account.
std::optional<SessionUser> ChooseSessionUser(const SessionFacts& facts);

// UID_MIN of a login.defs text; 1000 when it names none.
uid_t ParseUidMin(std::istream& login_defs);

// The systemd-run call that starts `words` (the program as an absolute path
// first) as a transient service of its own in the user's slice, so the
// program is no part of the service's control group and outlives a stop or
// restart of the service. systemd-run returns once the unit has started.
struct SystemdRun {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string unit;  // unit name without ".service"
  std::string home;  // working directory, when it exists
  std::vector<std::string> env;
  std::vector<std::string> words;
};
std::vector<std::string> SystemdRunArguments(const SystemdRun& run);

// StartProcessAsUser through the systemd-run at that path, or, without one,
// as a direct child in a session of its own. StartProcessAsUser takes the
// system's systemd-run when systemd runs the system.
CreateResult StartProcessAsUserVia(UserToken& token, const std::string& command_line,
                                   const std::optional<std::string>& systemd_run);

// A token for this backend's StartProcessAsUser.
std::unique_ptr<UserToken> MakeUserToken(SessionUser user);

}  // namespace qov::platform
