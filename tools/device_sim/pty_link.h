// The simulated device's end of the line: a pseudo-terminal master whose
// slave path is published in a file and/or through a symlink.
#pragma once

#include <string>

namespace qov::sim {

class PtyLink {
 public:
  PtyLink(std::string path_file, std::string link) : path_file_(std::move(path_file)), link_(std::move(link)) {}
  ~PtyLink() { Close(); }
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  // Opens a fresh pty (always a new slave path while an old one is held)
  // and publishes it; the old one, if any, is closed afterwards.
  bool Plug();
  // Closes the pty and removes the symlink: the device is gone.
  void Unplug();

  bool plugged() const { return master_ >= 0; }
  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }

 private:
  void Close();
  void Publish() const;

  std::string path_file_;
  std::string link_;
  int master_ = -1;
  // Held open so that the master never sees a hang-up while the client
  // closes and reopens the port.
  int slave_ = -1;
  std::string slave_path_;
};

}  // namespace qov::sim
