// A watchdog board stand-in inside the test process, on a pseudo-terminal it
// owns: it answers frames ("QOV Lumo 1.0.0" to the identification, "Z" to
// the rest) and can flood the line with junk or hold the line's output, the
// faults the device simulator has no mode for. POSIX only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace qov::test {

class PtyDevice {
 public:
  PtyDevice() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* name = ::ptsname(master_);
    if (!name) return;
    slave_path_ = name;
    // Held open so that the line stays up between the service's opens.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slave_ >= 0 && ::tcgetattr(slave_, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::tcsetattr(slave_, TCSANOW, &tio);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Serve(); });
  }
  ~PtyDevice() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  bool ok() const { return slave_ >= 0 && thread_.joinable(); }
  // "/dev/pts/N".
  const std::string& SlavePath() const { return slave_path_; }

  // Junk (never a 'Q' or a 'Z') written without pause while set.
  std::atomic<bool> flood{false};
  // Frames are answered while set.
  std::atomic<bool> answering{true};

  // Stops (or restarts) the line's output, as a peer holding off flow
  // control does: writes to the port then cannot go out.
  void HoldOutput(bool hold) { ::tcflow(slave_, hold ? TCOOFF : TCOON); }

  // Command codes of the frames received so far.
  std::vector<int> Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  void Serve() {
    std::mt19937 junk_source(12345);
    std::string pending;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      ::poll(&p, 1, 5);
      char buf[512];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) pending.append(buf, static_cast<std::size_t>(n));
      for (std::size_t at = pending.find("QOV"); at != std::string::npos && at + 3 < pending.size();
           at = pending.find("QOV")) {
        const int code = static_cast<unsigned char>(pending[at + 3]);
        pending.erase(0, at + 4);
        {
          std::lock_guard lock(mutex_);
          frames_.push_back(code);
        }
        if (answering) Send(code == 1 ? "QOV Lumo 1.0.0" : "Z");
      }
      if (pending.size() > 4096) pending.erase(0, pending.size() - 3);
      if (flood) {
        std::string junk(16, '\0');
        for (auto& c : junk) c = static_cast<char>(0x80 + junk_source() % 0x80);
        Send(junk);
      }
    }
  }
  void Send(const std::string& bytes) { (void)!::write(master_, bytes.data(), bytes.size()); }

  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<int> frames_;
  std::thread thread_;
};

}  // namespace qov::test
