// Runs the device simulator (tools/device_sim) as a child process on a pty,
// for the native tests of the real serial port. POSIX only.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

extern char** environ;

namespace qov::test {

class DeviceSimProcess {
 public:
  explicit DeviceSimProcess(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {QOV_TOOLS_DIR "/qov_device_sim", "--path-file", PathFile(),
                                      "--record",  Record(),   "--control", Control(),
                                      "--link",    Link()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &quiet, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&quiet);
    // The path file and the link are written one after the other: wait for both.
    for (int i = 0; i < 1000 && (SlavePath().empty() || !LinkReady()); ++i) Pause(10);
  }
  ~DeviceSimProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  DeviceSimProcess(const DeviceSimProcess&) = delete;
  DeviceSimProcess& operator=(const DeviceSimProcess&) = delete;

  bool running() const { return pid_ > 0 && !SlavePath().empty() && LinkReady(); }
  std::string SlavePath() const {
    std::ifstream in(PathFile());
    std::string line;
    std::getline(in, line);
    return line;
  }
  std::string Link() const { return dir_.File("link"); }
  // The link names the current slave.
  bool LinkReady() const {
    char target[256] = {};
    const ssize_t n = ::readlink(Link().c_str(), target, sizeof target - 1);
    return n > 0 && std::string(target, static_cast<std::size_t>(n)) == SlavePath();
  }

  // Sends one control line and waits until the simulator has taken it; a
  // line it never takes fails the test, since what follows would test the
  // wrong behaviour.
  void Command(const std::string& line) {
    const std::string event = "event " + line + "\n";
    const std::size_t before = Occurrences(event);
    const int fd = ::open(Control().c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) {
      ADD_FAILURE() << "device simulator: cannot open its control FIFO for \"" << line << "\"";
      return;
    }
    const std::string text = line + "\n";
    const bool sent = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!sent) {
      ADD_FAILURE() << "device simulator: control line \"" << line << "\" could not be written";
      return;
    }
    for (int i = 0; i < 2000 && Occurrences(event) == before; ++i) Pause(5);
    if (Occurrences(event) == before) ADD_FAILURE() << "device simulator never took \"" << line << "\"";
  }

  // Command codes of the frames received so far, in order.
  std::vector<int> Frames() const {
    std::vector<int> codes;
    std::istringstream in(RecordText());
    std::string ms, kind, value;
    while (in >> ms >> kind && std::getline(in >> std::ws, value)) {
      if (kind == "frame") codes.push_back(std::stoi(value));
    }
    return codes;
  }

  static void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

 private:
  std::string PathFile() const { return dir_.File("pty"); }
  std::string Record() const { return dir_.File("frames"); }
  std::string Control() const { return dir_.File("control"); }
  std::size_t Occurrences(const std::string& text) const {
    const std::string all = RecordText();
    std::size_t n = 0;
    for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }
  std::string RecordText() const {
    std::ifstream in(Record());
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  TempDir dir_;
  pid_t pid_ = -1;
};

}  // namespace qov::test
