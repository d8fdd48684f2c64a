// The Win32 port and the SERIALCOMM listing, under Wine. The cases on a live
// port run when QOV_TEST_COM_PORT names a port mapped to the device
// simulator (tests/wine/scenario_serial_port.sh sets that up).
#include <gtest/gtest.h>

#include <atomic>

#include <chrono>
#include <thread>
#include <cstdlib>
#include <string>

#include "device/com_port.h"
#include "device/link_protocol.h"
#include "device/receive_thread.h"
#include "platform/registry.h"
#include "platform/serial_device_map.h"
#include "platform/serial_port.h"

namespace qov::device {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

TEST(Win32Port, DeviceMapListsStringValuesOnly) {
  auto key = platform::SystemRegistry().Open(platform::kSerialDeviceMapKey, true);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->WriteString("\\Device\\QovTest7", "QOVTEST7"));
  ASSERT_TRUE(key->WriteDword("\\Device\\QovTest8", 8));
  EXPECT_TRUE(ComPortPresent("QOVTEST7"));
  EXPECT_FALSE(ComPortPresent("qovtest7"));
  EXPECT_FALSE(ComPortPresent("QOVTEST"));
  EXPECT_FALSE(ComPortPresent("\\Device\\QovTest7"));
}

TEST(Win32Port, ClosedPortAndMissingDevice) {
  TComPort port;
  std::uint8_t buf[4] = {};
  EXPECT_EQ(port.Read(buf, 4), -1);
  EXPECT_EQ(port.Write(buf, 4), -1);
  EXPECT_FALSE(port.Open(9600, platform::SerialDevicePath("COM77")));
  EXPECT_EQ(port.Read(buf, 4), -1);
  port.Close();
  port.Close();
  EXPECT_EQ(platform::SerialDevicePath("COM3"), "\\\\.\\COM3");
}

class Win32LivePortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* name = std::getenv("QOV_TEST_COM_PORT");
    if (!name || !*name) GTEST_SKIP() << "QOV_TEST_COM_PORT not set";
    ASSERT_TRUE(port_.Open(9600, platform::SerialDevicePath(name)));
  }
  TComPort port_;
};

TEST_F(Win32LivePortTest, OneChunkReplies) {
  std::uint8_t buf[kMailboxSize];
  const auto frame = MakeFrame(CMD_VERSION);
  EXPECT_EQ(port_.Write(frame.data(), 4), 4);
  const auto n = port_.Read(buf, kMailboxSize);
  EXPECT_TRUE(IsIdentification(buf, n)) << n;
}

// The port is overlapped: a write goes out while a read is pending on
// another thread, and an interrupt ends that read at once.
TEST_F(Win32LivePortTest, WriteDuringAPendingReadAndInterruptedRead) {
  std::uint8_t buf[kMailboxSize];
  std::int32_t got = -3;
  std::thread reader([&] { got = port_.Read(buf, kMailboxSize); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto frame = MakeFrame(CMD_TIMER_INIT);
  const auto write_start = Clock::now();
  EXPECT_EQ(port_.Write(frame.data(), 4), 4);
  EXPECT_LT(MsSince(write_start), 500) << "the write did not wait for the pending read";
  reader.join();
  EXPECT_TRUE(IsAcknowledgement(buf, got)) << got;

  std::thread interrupted([&] { got = port_.Read(buf, kMailboxSize); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  port_.InterruptRead();
  interrupted.join();
  EXPECT_EQ(got, 0) << "a read with nothing to read ends only by the interrupt";
}

TEST_F(Win32LivePortTest, ExchangesThroughTheReceiveThread) {
  RcvMailbox mailbox;
  platform::StopRequest no_stop;
  DeviceLink link(platform::SystemClock(), port_, mailbox, no_stop);
  auto receiver = StartReceiveThread(platform::SystemClock(), port_, mailbox);
  EXPECT_TRUE(link.CheckDeviceVersion());
  EXPECT_TRUE(link.SendDeviceCommand(CMD_TIMER_INIT));
  EXPECT_TRUE(link.SendDeviceCommand(CMD_LIFE_MESSAGE));
}

}  // namespace
}  // namespace qov::device
