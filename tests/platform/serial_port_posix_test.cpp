// The termios port against the device simulator on a pseudo-terminal.
// Real time: these few cases wait at most a few seconds in all.
#include <gtest/gtest.h>

#include <atomic>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "device/com_port.h"
#include "device/link_protocol.h"
#include "device/receive_thread.h"
#include "platform/posix_fd.h"
#include "platform/serial_port.h"
#include "support/device_sim_process.h"
#include "support/pty_device.h"

namespace qov::device {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class PosixPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.running());
    ASSERT_TRUE(port_.Open(9600, sim_.Link()));
  }

  // Sends a frame and returns the one chunk the next read gives.
  std::string Ask(std::uint8_t code) {
    const auto frame = MakeFrame(code);
    port_.Write(frame.data(), 4);
    std::uint8_t buf[kMailboxSize];
    const auto n = port_.Read(buf, kMailboxSize);
    return n > 0 ? std::string(reinterpret_cast<char*>(buf), n) : std::string();
  }
  bool AskIdentification() {
    const std::string chunk = Ask(CMD_VERSION);
    return IsIdentification(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
  }
  bool AskAcknowledgement() {
    const std::string chunk = Ask(CMD_TIMER_INIT);
    return IsAcknowledgement(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
  }

  test::DeviceSimProcess sim_;
  TComPort port_;
};

TEST_F(PosixPortTest, IdentificationOfBothModelsAtMinimumLengthAndOneByteShort) {
  sim_.Command("id QOV Lumo 1.0.0");
  EXPECT_TRUE(AskIdentification());
  sim_.Command("id QOV Lumo 1.00");
  EXPECT_FALSE(AskIdentification());
  sim_.Command("id QOV Vesperin 2.0.0");
  EXPECT_TRUE(AskIdentification());
  sim_.Command("id QOV Vesperin 2.00");
  EXPECT_FALSE(AskIdentification());
}

TEST_F(PosixPortTest, OnlyASingleCapitalZIsAnAcknowledgement) {
  EXPECT_TRUE(AskAcknowledgement());
  for (const char* ack : {"z", "ZZ", "Zq"}) {
    sim_.Command(std::string("ack ") + ack);
    EXPECT_FALSE(AskAcknowledgement()) << ack;
  }
  EXPECT_EQ(sim_.Frames(), (std::vector<int>{3, 3, 3, 3}));
}

TEST_F(PosixPortTest, AReadEndsFiftyMillisecondsAfterItsLastByte) {
  std::uint8_t buf[kMailboxSize];
  // A short reply comes back once the 50 ms gap after its last byte has passed.
  const auto frame = MakeFrame(CMD_LIFE_MESSAGE);
  port_.Write(frame.data(), 4);
  const auto start = Clock::now();
  EXPECT_EQ(port_.Read(buf, kMailboxSize), 1);
  EXPECT_GE(MsSince(start), 50);

  // A pause inside a reply splits it into two reads.
  sim_.Command("mode split");
  const auto id = MakeFrame(CMD_VERSION);
  port_.Write(id.data(), 4);
  EXPECT_EQ(port_.Read(buf, kMailboxSize), 9);
  EXPECT_EQ(port_.Read(buf, kMailboxSize), 5);
}

TEST_F(PosixPortTest, ExchangesThroughTheReceiveThread) {
  RcvMailbox mailbox;
  platform::StopRequest no_stop;
  DeviceLink link(platform::SystemClock(), port_, mailbox, no_stop);
  auto receiver = StartReceiveThread(platform::SystemClock(), port_, mailbox);
  EXPECT_TRUE(link.CheckDeviceVersion());
  EXPECT_TRUE(link.SendDeviceCommand(CMD_TIMER_INIT));

  sim_.Command("mode silent");
  const auto start = Clock::now();
  EXPECT_FALSE(link.SendDeviceCommand(CMD_LIFE_MESSAGE));
  EXPECT_GE(MsSince(start), 2500);  // five attempts of 500 ms
  EXPECT_EQ(sim_.Frames(), (std::vector<int>{1, 3, 5, 5, 5, 5, 5}));
}

TEST_F(PosixPortTest, HangUpFailsReadsAndWritesAtOnce) {
  sim_.Command("unplug");
  std::uint8_t buf[4] = {'Q', 'O', 'V', 5};
  const auto start = Clock::now();
  EXPECT_EQ(port_.Read(buf, 4), -2);
  EXPECT_LT(MsSince(start), 100);
  EXPECT_EQ(port_.Write(buf, 4), -2);
}

// A read with nothing to read waits until another thread interrupts it;
// reads stay interrupted until the port is opened again.
TEST_F(PosixPortTest, InterruptEndsAPendingReadUntilTheNextOpen) {
  std::uint8_t buf[kMailboxSize];
  std::thread reader([&] { EXPECT_EQ(port_.Read(buf, kMailboxSize), 0) << "only the interrupt ends it"; });
  test::DeviceSimProcess::Pause(100);
  port_.InterruptRead();
  reader.join();
  const auto start = Clock::now();
  EXPECT_EQ(port_.Read(buf, kMailboxSize), 0);
  EXPECT_LT(MsSince(start), 700);

  port_.Close();
  ASSERT_TRUE(port_.Open(9600, sim_.Link()));
  EXPECT_TRUE(AskAcknowledgement());
}

// A pty whose other end stops reading fills up; the write that cannot go
// out then fails at its time-out instead of blocking for good.
TEST(PosixPort, WriteThatCannotGoOutFailsAtItsTimeOut) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  TComPort port;
  ASSERT_TRUE(port.Open(9600, ::ptsname(master)));
  std::vector<std::uint8_t> flood(1 << 20, 'x');  // far more than the pty holds
  const auto start = Clock::now();
  EXPECT_EQ(port.Write(flood.data(), static_cast<std::int32_t>(flood.size())), -2);
  EXPECT_GE(MsSince(start), static_cast<long>(platform::kWriteTimeoutMs) - 50);
  port.Close();
  ::close(master);
}

TEST(PosixPort, ClosedPortAndRefusedOpens) {
  TComPort port;
  std::uint8_t buf[4] = {};
  EXPECT_EQ(port.Read(buf, 4), -1);
  EXPECT_EQ(port.Write(buf, 4), -1);
  EXPECT_FALSE(port.Open(9600, "/dev/qov-no-such-port"));
  EXPECT_EQ(port.Read(buf, 4), -1);

  test::DeviceSimProcess sim;
  ASSERT_TRUE(sim.running());
  EXPECT_FALSE(port.Open(12345, sim.SlavePath()));  // a baud rate the driver refuses
  EXPECT_EQ(port.Write(buf, 4), -1);
  port.Close();
  port.Close();
}

// The port is held exclusively while open, as Windows holds it: a second
// open of it fails with its reason, another program that asks for the lock
// first keeps the port from us, and a close frees it for the next open.
TEST(PosixPort, APortIsHeldExclusivelyUntilItIsClosed) {
  test::PtyDevice device;
  ASSERT_TRUE(device.ok());
  const std::string path = device.SlavePath();
  // A look at the tty beside the port, for its exclusive mode.
  const platform::UniqueFd watcher(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_TRUE(watcher);
  const auto exclusive = [&] {
    int on = -1;
    return ::ioctl(watcher.get(), TIOCGEXCL, &on) == 0 && on == 1;
  };

  auto first = platform::MakeSystemSerialPort();
  auto second = platform::MakeSystemSerialPort();
  ASSERT_TRUE(first->Open(9600, path));
  EXPECT_TRUE(exclusive());
  EXPECT_FALSE(second->Open(9600, path)) << "opened while the first holds it";
  EXPECT_EQ(second->OpenError(), "in use by another process");
  EXPECT_FALSE(second->IsOpen());
  {
    // Only root gets past the exclusive mode; then the lock turns it away.
    const platform::UniqueFd other(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (other) {
      EXPECT_NE(::flock(other.get(), LOCK_EX | LOCK_NB), 0) << "another program's lock is granted beside ours";
    } else {
      EXPECT_EQ(errno, EBUSY);
    }
  }
  first->Close();
  EXPECT_FALSE(exclusive()) << "the exclusive mode outlives the close";
  ASSERT_TRUE(second->Open(9600, path)) << second->OpenError();
  EXPECT_EQ(second->OpenError(), "");
  second->Close();

  // Another program that holds the lock first keeps the port from us.
  const platform::UniqueFd holder(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(first->Open(9600, path));
  EXPECT_EQ(first->OpenError(), "in use by another process");
}

TEST(PosixPort, PseudoTerminalsCountAsListedPorts) {
  test::DeviceSimProcess sim;
  ASSERT_TRUE(sim.running());
  const std::string slave = sim.SlavePath();  // /dev/pts/N
  EXPECT_TRUE(ComPortPresent(slave.substr(5)));
  EXPECT_TRUE(ComPortPresent(slave)) << "the full path is listed too";
  EXPECT_EQ(platform::SerialDevicePath(slave.substr(5)), slave);
  EXPECT_EQ(platform::SerialDevicePath("/tmp/x"), "/tmp/x");
  EXPECT_FALSE(ComPortPresent("pts/999999"));
}

}  // namespace
}  // namespace qov::device
