// qov_device_sim: answers the watchdog protocol on a pseudo-terminal, so the
// service (natively or under Wine) can be tried without the board.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pty_link.h"
#include "responder.h"
#include "sim_settings.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

std::int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

const char kUsage[] =
    "usage: qov_device_sim [options]\n"
    "  --path-file FILE    write the current pty slave path to FILE\n"
    "  --link PATH         keep a symlink PATH pointing at the current slave\n"
    "  --record FILE       append '<ms> frame <code>' per received frame (and '<ms> event ...')\n"
    "  --control FIFO      read commands, one per line, from FIFO (created if missing)\n"
    "  --model lumo|vesperin, --id TEXT, --ack TEXT, --garbage TEXT\n"
    "  --mode normal|silent|late|garbage|split, --delay MS, --split-at N, --split-pause MS\n"
    "  --refuse CODE       never answer this command code\n"
    "commands: the options above without '--' (\"mode silent\", \"refuse 5\", ...),\n"
    "  drop (new pty at once), unplug, plug, quit\n";

class Recorder {
 public:
  explicit Recorder(const std::string& path, std::int64_t start) : start_(start) {
    if (!path.empty()) file_ = fopen(path.c_str(), "a");
  }
  ~Recorder() {
    if (file_) fclose(file_);
  }
  void Line(const std::string& what) {
    if (!file_) return;
    fprintf(file_, "%lld %s\n", static_cast<long long>(NowMs() - start_), what.c_str());
    fflush(file_);
  }

 private:
  std::int64_t start_;
  FILE* file_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace qov::sim;
  std::string path_file, link, record, control;
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (arg.rfind("--", 0) != 0 || i + 1 >= argc) {
      fputs(kUsage, stderr);
      return 2;
    }
    const std::string value = argv[++i];
    if (arg == "--path-file") path_file = value;
    else if (arg == "--link") link = value;
    else if (arg == "--record") record = value;
    else if (arg == "--control") control = value;
    else if (ApplyCommand(settings, arg.substr(2) + " " + value) != Action::None) {
      fprintf(stderr, "qov_device_sim: bad option %s %s\n", arg.c_str(), value.c_str());
      return 2;
    }
  }

  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  signal(SIGPIPE, SIG_IGN);

  const std::int64_t start = NowMs();
  Recorder recorder(record, start);
  // Before the pty's path file: whoever waits for that file may send a
  // command at once, and the FIFO must have its reader by then.
  int control_fd = -1;
  if (!control.empty()) {
    if (mkfifo(control.c_str(), 0600) != 0 && errno != EEXIST) {
      perror("qov_device_sim: control fifo");
      return 1;
    }
    // Opened for writing too, so it never reports end-of-file between writers.
    control_fd = open(control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  }
  PtyLink pty(path_file, link);
  auto plug = [&] {
    if (!pty.Plug()) {
      perror("qov_device_sim: pty");
      return false;
    }
    printf("pty %s\n", pty.slave_path().c_str());
    fflush(stdout);
    recorder.Line("event plug " + pty.slave_path());
    return true;
  };
  if (!plug()) return 1;


  Responder responder;
  std::vector<Outgoing> outgoing;
  std::string control_line;
  bool quit = false;
  while (!quit && !g_stop) {
    const std::int64_t now = NowMs();
    int timeout = 200;
    for (const auto& o : outgoing) timeout = std::min<int>(timeout, std::max<std::int64_t>(0, o.due_ms - now));
    pollfd fds[2] = {{pty.master(), POLLIN, 0}, {control_fd, POLLIN, 0}};
    if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;

    if (pty.plugged() && (fds[0].revents & POLLIN)) {
      char buf[256];
      const ssize_t n = read(pty.master(), buf, sizeof buf);
      if (n > 0) {
        for (int code : responder.Feed(buf, static_cast<std::size_t>(n))) {
          recorder.Line("frame " + std::to_string(code));
          for (auto& o : Responder::Reply(settings, code, NowMs())) outgoing.push_back(std::move(o));
        }
      }
    }
    if (control_fd >= 0 && (fds[1].revents & POLLIN)) {
      char buf[256];
      const ssize_t n = read(control_fd, buf, sizeof buf);
      if (n > 0) control_line.append(buf, static_cast<std::size_t>(n));
      for (auto nl = control_line.find('\n'); nl != std::string::npos; nl = control_line.find('\n')) {
        const std::string line = control_line.substr(0, nl);
        control_line.erase(0, nl + 1);
        if (line.empty()) continue;
        recorder.Line("event " + line);
        switch (ApplyCommand(settings, line)) {
          case Action::Drop:
            outgoing.clear();
            plug();
            break;
          case Action::Unplug:
            outgoing.clear();
            pty.Unplug();
            break;
          case Action::Plug:
            if (!pty.plugged()) plug();
            break;
          case Action::Quit:
            quit = true;
            break;
          case Action::Invalid:
            fprintf(stderr, "qov_device_sim: bad command: %s\n", line.c_str());
            break;
          case Action::None:
            break;
        }
      }
    }

    const std::int64_t after = NowMs();
    for (auto it = outgoing.begin(); it != outgoing.end();) {
      if (it->due_ms > after) {
        ++it;
        continue;
      }
      if (pty.plugged()) (void)!write(pty.master(), it->bytes.data(), it->bytes.size());
      it = outgoing.erase(it);
    }
  }
  if (control_fd >= 0) close(control_fd);
  recorder.Line("event exit");
  return 0;
}
