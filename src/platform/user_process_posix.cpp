#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "platform/process.h"
#include "platform/user_process.h"

namespace qov::platform {
namespace {

// Processes run as the service's own user here; the token only says whose.
class PosixToken final : public UserToken {
 public:
  explicit PosixToken(uid_t uid) : uid(uid) {}
  uid_t uid;
};

// The bare file name of the executable, as Windows lists processes.
std::string ExecutableOf(const std::string& pid) {
  char path[PATH_MAX];
  const ssize_t n = ::readlink(("/proc/" + pid + "/exe").c_str(), path, sizeof path - 1);
  if (n > 0) {
    const std::string full(path, static_cast<std::size_t>(n));
    return full.substr(full.find_last_of('/') + 1);
  }
  // No readable executable: another user's process (listed by its short
  // name) or a kernel thread (not a program; left out, as Windows does).
  std::ifstream cmdline("/proc/" + pid + "/cmdline");
  if (cmdline.peek() == std::ifstream::traits_type::eof()) return {};
  std::ifstream comm("/proc/" + pid + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

std::optional<uid_t> OwnerOf(std::uint32_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Uid:", 0) == 0) return static_cast<uid_t>(std::strtoul(line.c_str() + 4, nullptr, 10));
  }
  return std::nullopt;
}

}  // namespace

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> out;
  DIR* dir = ::opendir("/proc");
  if (!dir) return out;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    std::string exe = ExecutableOf(name);
    if (!exe.empty()) out.push_back({static_cast<std::uint32_t>(std::strtoul(name.c_str(), nullptr, 10)), std::move(exe)});
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end(), [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
  return out;
}

std::unique_ptr<UserToken> ConsoleUserToken() { return std::make_unique<PosixToken>(::getuid()); }

std::unique_ptr<UserToken> ProcessUserToken(std::uint32_t pid) {
  const auto owner = OwnerOf(pid);
  if (!owner) return nullptr;
  return std::make_unique<PosixToken>(*owner);
}

CreateResult StartProcessAsUser(UserToken& token, const std::string& command_line) {
  // Only the service's own user can be had without privileges to switch.
  if (static_cast<PosixToken&>(token).uid != ::getuid()) return {false, static_cast<std::uint32_t>(EPERM)};
  if (StartProcess(command_line)) return {true, 0};
  return {false, static_cast<std::uint32_t>(errno)};
}

}  // namespace qov::platform
