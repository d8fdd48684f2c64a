#include "platform/user_control_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/service_control.h"
#include "platform/state_store.h"

namespace qov::platform {
namespace {

std::string ErrnoText(const std::string& what, int error) {
  return what + ": " + std::error_code(error, std::generic_category()).message();
}

}  // namespace

std::string ControlFifoPath() { return SystemStateFolder() + "/control"; }

UniqueFd OpenControlFifo(std::string& why) {
  const std::string folder = SystemStateFolder();
  // A folder made here is root's alone; one that exists keeps its mode.
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    why = ErrnoText("cannot make " + folder, errno);
    return UniqueFd();
  }
  const std::string path = ControlFifoPath();
  // Whatever the last run left there (or anyone planted) goes.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    why = ErrnoText("cannot remove the old " + path, errno);
    return UniqueFd();
  }
  if (::mkfifo(path.c_str(), 0600) != 0) {
    why = ErrnoText("cannot make " + path, errno);
    return UniqueFd();
  }
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0) {
    why = ErrnoText("cannot open " + path, errno);
    return UniqueFd();
  }
  // The mode asked for at mkfifo is cut by the umask; this one is not.
  if (!S_ISFIFO(st.st_mode) || st.st_uid != ::geteuid() || ::fchmod(fd.get(), 0600) != 0) {
    why = path + " is not this daemon's own FIFO";
    return UniqueFd();
  }
  return fd;
}

void RemoveControlFifo(const UniqueFd& fifo) {
  struct stat mine {}, named {};
  const std::string path = ControlFifoPath();
  if (!fifo || ::fstat(fifo.get(), &mine) != 0 || ::lstat(path.c_str(), &named) != 0) return;
  if (mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) ::unlink(path.c_str());
}

ControlSent SendUserControl(const std::string&, std::uint32_t code, std::string& why) {
  const std::string path = ControlFifoPath();
  // Without a reader (no daemon) the open fails with ENXIO instead of waiting.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    why = ErrnoText(path, error);
    if (error == ENOENT || error == ENXIO) return ControlSent::kNotRunning;
    if (error == EACCES || error == EPERM) return ControlSent::kRefused;
    return ControlSent::kFailed;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
    why = path + " is not the daemon's FIFO";
    return ControlSent::kFailed;
  }
  const unsigned char byte = static_cast<unsigned char>(code);
  if (code < 128 || code > 255 || ::write(fd.get(), &byte, 1) != 1) {
    why = code < 128 || code > 255 ? "not a user-defined control code" : ErrnoText("cannot write " + path, errno);
    return ControlSent::kFailed;
  }
  return ControlSent::kSent;
}

}  // namespace qov::platform
