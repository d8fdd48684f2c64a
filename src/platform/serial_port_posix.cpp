// termios backend: raw 8N1 on a non-blocking descriptor, with reads paced by
// poll() as the Windows port's time-outs pace its reads (the first byte
// awaited without a limit, then 50 ms between bytes) and writes bounded by
// the write time-out. A pipe
// polled beside the port lets another thread end a read at once. The port
// is held exclusively, as Windows opens it: no other process (another
// service, a modem manager, a terminal program) may use it meanwhile.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <system_error>

#include "platform/clock.h"
#include "platform/posix_fd.h"
#include "platform/serial_port.h"

namespace qov::platform {
namespace {

constexpr int kIntervalTimeoutMs = 50;

std::int64_t MonotonicMs() { return SystemClock().NowMs(); }

bool BaudToSpeed(std::int32_t baud, speed_t& speed) {
  switch (baud) {
    case 1200: speed = B1200; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    default: return false;
  }
}

class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort() {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      wake_read_.reset(fds[0]);
      wake_write_.reset(fds[1]);
    }
  }

  bool Open(std::int32_t baud, const std::string& device_path) override {
    interrupted_.store(false);
    char drain[16];
    while (wake_read_ && ::read(wake_read_.get(), drain, sizeof drain) > 0) {
    }
    UniqueFd fd(::open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return Refused(errno);
    // The lock is the one other well-behaved programs take and honour; the
    // tty's exclusive mode turns away the opens of any other non-root one.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      return Refused(errno == EWOULDBLOCK ? EBUSY : errno);
    }
    if (::ioctl(fd.get(), TIOCEXCL) != 0) return Refused(errno);
    open_error_.clear();
    termios tio{};
    speed_t speed{};
    if (::tcgetattr(fd.get(), &tio) != 0 || !BaudToSpeed(baud, speed)) {
      Release(fd.get());
      return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd.get(), TCSANOW, &tio) != 0) {
      Release(fd.get());
      return false;
    }
    ::tcflush(fd.get(), TCIOFLUSH);
    fd_ = std::move(fd);
    return true;
  }

  void Close() override {
    if (fd_) Release(fd_.get());
    fd_.reset();
  }
  std::string OpenError() const override { return open_error_; }
  bool IsOpen() const override { return static_cast<bool>(fd_); }

  std::int32_t Read(std::uint8_t* buffer, std::int32_t count) override {
    std::int32_t got = 0;
    while (got < count && !interrupted_.load()) {
      // Without the interrupt pipe a first byte is awaited in bounded steps.
      const int wait = got > 0 ? kIntervalTimeoutMs : (wake_read_ ? -1 : 1000);
      pollfd polled[2] = {{fd_.get(), POLLIN, 0}, {wake_read_.get(), POLLIN, 0}};
      const int rc = ::poll(polled, wake_read_ ? 2 : 1, wait);
      if (rc < 0) {
        if (errno == EINTR) continue;
        return got > 0 ? got : -2;
      }
      if (rc == 0) {
        if (got > 0) break;  // the gap after the last byte ends the chunk
        continue;
      }
      const pollfd& p = polled[0];
      if (p.revents == 0) break;  // interrupted
      if (p.revents & POLLIN) {
        const ssize_t n = ::read(fd_.get(), buffer + got, static_cast<std::size_t>(count - got));
        if (n > 0) {
          got += static_cast<std::int32_t>(n);
          continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      }
      // Hang-up or error: the other end is gone.
      return got > 0 ? got : -2;
    }
    return got;
  }

  std::int32_t Write(const std::uint8_t* buffer, std::int32_t count) override {
    const std::int64_t end = MonotonicMs() + kWriteTimeoutMs;
    std::int32_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd_.get(), buffer + done, static_cast<std::size_t>(count - done));
      if (n > 0) {
        done += static_cast<std::int32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        const std::int64_t left = end - MonotonicMs();
        if (left <= 0) return -2;  // the other end takes nothing: flow stopped or reader gone
        pollfd p{fd_.get(), POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return -2;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return -2;
        continue;
      }
      return -2;
    }
    return done;
  }

  void InterruptRead() override {
    interrupted_.store(true);
    if (wake_write_) (void)!::write(wake_write_.get(), "x", 1);
  }

 private:
  bool Refused(int error) {
    open_error_ =
        error == EBUSY ? "in use by another process" : std::error_code(error, std::generic_category()).message();
    return false;
  }
  // The exclusive mode outlives this descriptor where another one keeps the
  // tty open (a pty's other side); the lock goes with the descriptor.
  static void Release(int fd) { ::ioctl(fd, TIOCNXCL); }

  UniqueFd fd_;
  // Why the last Open failed before the line settings; only Open writes it.
  std::string open_error_;
  // Written by InterruptRead on any thread; cleared by Open.
  std::atomic<bool> interrupted_{false};
  UniqueFd wake_read_;
  UniqueFd wake_write_;
};

void AddEntries(const std::string& dir, const std::string& prefix, bool (*keep)(const std::string&, const std::string&),
                std::vector<std::string>& out) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != ".." && keep(dir, name)) names.push_back(prefix + name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  out.insert(out.end(), names.begin(), names.end());
}

// A tty class entry backed by a device: a real UART, USB or ACM port.
bool HasDevice(const std::string& dir, const std::string& name) {
  struct stat st{};
  return ::stat((dir + "/" + name + "/device").c_str(), &st) == 0;
}

bool IsPseudoTerminal(const std::string&, const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::unique_ptr<SerialPort> MakeSystemSerialPort() { return std::make_unique<PosixSerialPort>(); }

bool Any(const std::string&, const std::string&) { return true; }

// Hardware-backed ttys ("ttyS0", "ttyUSB0", ...), the stable names udev
// gives USB adapters ("serial/by-id/usb-..."), and, so that a simulated
// device counts as attached, every pseudo-terminal slave ("pts/3"); each
// also under its full path ("/dev/ttyUSB0"), since either may be configured.
std::vector<std::string> ListSerialPorts() {
  std::vector<std::string> names;
  AddEntries("/sys/class/tty", "", HasDevice, names);
  AddEntries("/dev/serial/by-id", "serial/by-id/", Any, names);
  AddEntries("/dev/pts", "pts/", IsPseudoTerminal, names);
  std::vector<std::string> out = names;
  for (const auto& n : names) out.push_back("/dev/" + n);
  return out;
}

std::string SerialDevicePath(const std::string& port_name) {
  if (!port_name.empty() && port_name.front() == '/') return port_name;
  return "/dev/" + port_name;
}

}  // namespace qov::platform
