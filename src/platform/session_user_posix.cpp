#include <sstream>

#include "platform/session_user_posix.h"

namespace qov::platform {
namespace {

bool IsGraphical(const std::string& type) { return type == "x11" || type == "wayland" || type == "mir"; }

// The value of `name` in the first environment that holds it.
std::optional<std::string> Lookup(const std::vector<std::vector<std::string>>& environments, const std::string& name) {
  const std::string prefix = name + "=";
  for (const auto& env : environments) {
    for (const auto& entry : env) {
      if (entry.rfind(prefix, 0) == 0 && entry.size() > prefix.size()) return entry.substr(prefix.size());
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<SessionUser> ChooseSessionUser(const SessionFacts& facts) {
  if (!facts.active) return std::nullopt;
  const SeatSession& s = *facts.active;
  if (s.session_class != "user" || !IsGraphical(s.type)) return std::nullopt;
  if (s.uid == 0 || s.uid < facts.uid_min) return std::nullopt;

  SessionUser user{s.uid, {}};
  auto add = [&](const std::string& name, const std::optional<std::string>& value) {
    if (value) user.env.push_back(name + "=" + *value);
  };
  // logind's display is the session's own; Xwayland's shows only in the
  // environment.
  add("DISPLAY", s.display.empty() ? Lookup(facts.environments, "DISPLAY") : s.display);
  add("WAYLAND_DISPLAY", Lookup(facts.environments, "WAYLAND_DISPLAY"));
  add("XAUTHORITY", Lookup(facts.environments, "XAUTHORITY"));
  const std::string runtime_dir = "/run/user/" + std::to_string(s.uid);
  auto runtime = Lookup(facts.environments, "XDG_RUNTIME_DIR");
  if (!runtime && facts.runtime_dir_exists) runtime = runtime_dir;
  add("XDG_RUNTIME_DIR", runtime);
  auto bus = Lookup(facts.environments, "DBUS_SESSION_BUS_ADDRESS");
  if (!bus && facts.runtime_dir_exists) bus = "unix:path=" + runtime_dir + "/bus";
  add("DBUS_SESSION_BUS_ADDRESS", bus);
  return user;
}

uid_t ParseUidMin(std::istream& login_defs) {
  std::string line;
  while (std::getline(login_defs, line)) {
    std::istringstream words(line);
    std::string key;
    unsigned long value = 0;
    if (words >> key && key == "UID_MIN" && words >> value) return static_cast<uid_t>(value);
  }
  return 1000;
}

std::vector<std::string> SystemdRunArguments(const SystemdRun& run) {
  const std::string uid = std::to_string(run.uid);
  std::vector<std::string> args = {"systemd-run",
                                   "--unit=" + run.unit,
                                   "--uid=" + uid,
                                   "--gid=" + std::to_string(run.gid),
                                   // Ends with the user's last session, as a
                                   // Windows program ends with its log-off.
                                   "--slice=user-" + uid + ".slice",
                                   // A program that forks and lets its first
                                   // process end keeps running.
                                   "--property=RemainAfterExit=yes",
                                   "--collect",
                                   "--quiet"};
  if (!run.home.empty()) args.push_back("--property=WorkingDirectory=-" + run.home);
  for (const auto& e : run.env) args.push_back("--setenv=" + e);
  args.push_back("--");
  args.insert(args.end(), run.words.begin(), run.words.end());
  return args;
}

}  // namespace qov::platform
