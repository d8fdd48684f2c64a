#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "platform/status_host.h"
#include "platform/systemd_notify_posix.h"

namespace qov::platform {

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool ProcessRuns(std::uint32_t pid) {
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX)) return false;
  // EPERM: it runs under an account this one may not signal.
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  // A process killed but not yet waited for by its parent is a zombie:
  // its state, after the name in parentheses, is 'Z'.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!stat || !std::getline(stat, text)) return true;
  const std::size_t close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

void AnnounceStatusLine(const std::string& line) { NotifySystemd("STATUS=" + line); }

}  // namespace qov::platform
