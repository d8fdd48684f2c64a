#include "platform/systemd_notify_posix.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/posix_fd.h"

namespace qov::platform {
namespace {

// A whole decimal number, or nothing: a partly numeric value is not one.
bool ParseUnsigned(const char* text, std::uint64_t& value) {
  if (!text || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  value = parsed;
  return true;
}

}  // namespace

bool SystemdBooted() {
  struct stat st{};
  return ::lstat("/run/systemd/system/", &st) == 0 && S_ISDIR(st.st_mode);
}

bool NotifySystemd(const std::string& state) {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (!name || (name[0] != '/' && name[0] != '@')) return false;
  const std::size_t length = std::strlen(name);
  sockaddr_un address{};
  if (length < 2 || length > sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, name, length);
  if (name[0] == '@') address.sun_path[0] = '\0';  // the abstract namespace
  // A path's terminating zero is not part of the address's length, an abstract name has none.
  const auto address_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  const UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  return ::sendto(fd.get(), state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                  address_length) == static_cast<ssize_t>(state.size());
}

std::uint64_t SystemdWatchdogUsec() {
  std::uint64_t usec = 0;
  if (!ParseUnsigned(std::getenv("WATCHDOG_USEC"), usec)) return 0;
  if (const char* pid_text = std::getenv("WATCHDOG_PID")) {
    std::uint64_t pid = 0;
    if (!ParseUnsigned(pid_text, pid) || pid != static_cast<std::uint64_t>(::getpid())) return 0;
  }
  return usec;
}

}  // namespace qov::platform
