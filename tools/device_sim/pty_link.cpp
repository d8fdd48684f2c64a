#include "pty_link.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace qov::sim {

bool PtyLink::Plug() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) return false;
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    ::close(master);
    return false;
  }
  const char* name = ::ptsname(master);
  const int slave = name ? ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
  if (slave < 0) {
    ::close(master);
    return false;
  }
  // Raw from the start: no echo of our replies back into our own input.
  termios tio{};
  if (::tcgetattr(slave, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  Close();
  master_ = master;
  slave_ = slave;
  slave_path_ = name;
  Publish();
  return true;
}

void PtyLink::Unplug() {
  Close();
  if (!link_.empty()) ::unlink(link_.c_str());
}

void PtyLink::Close() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
}

// Both are replaced atomically, so a reader never sees a half-written state.
void PtyLink::Publish() const {
  if (!path_file_.empty()) {
    const std::string tmp = path_file_ + ".tmp";
    if (FILE* f = ::fopen(tmp.c_str(), "w")) {
      ::fprintf(f, "%s\n", slave_path_.c_str());
      ::fclose(f);
      ::rename(tmp.c_str(), path_file_.c_str());
    }
  }
  if (!link_.empty()) {
    const std::string tmp = link_ + ".tmp";
    ::unlink(tmp.c_str());
    if (::symlink(slave_path_.c_str(), tmp.c_str()) == 0) ::rename(tmp.c_str(), link_.c_str());
  }
}

}  // namespace qov::sim
