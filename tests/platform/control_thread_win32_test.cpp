// The control thread with real threads, the real clock and the Win32 port on
// the device simulator, under Wine. Runs when QOV_TEST_COM_PORT names a
// listed port mapped to the simulator (tests/wine/scenario_serial_port.sh);
// with QOV_TEST_REPLUG set, the scenario unplugs the simulator mid-run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "device/control_thread.h"
#include "support/recording_log.h"

namespace qov::device {
namespace {

bool WaitUntil(const std::function<bool()>& done, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

TEST(Win32LiveDevice, RunsTheDeviceAndStopsItsTimer) {
  const char* name = std::getenv("QOV_TEST_COM_PORT");
  if (!name || !*name) GTEST_SKIP() << "QOV_TEST_COM_PORT not set";
  const bool replug = std::getenv("QOV_TEST_REPLUG") != nullptr;

  test::RecordingLog log(&platform::SystemClock());
  config::TParamRec params;
  params.qov_com_port = name;
  params.life_beakon_period_ms = 300;
  TComPort port;
  RcvMailbox mailbox;
  TQOVControlThread control({platform::SystemClock(), log, params, port, mailbox});
  control.Start();

  ASSERT_TRUE(WaitUntil([&] { return log.Count("Life message send ok") >= 3; }, 15));
  if (replug) {
    ASSERT_TRUE(WaitUntil([&] { return log.Count("Life message send fail") >= 1; }, 30));
    ASSERT_TRUE(WaitUntil([&] { return log.Count("QOV timer init ok") >= 2; }, 45));
    const long before = log.Count("Life message send ok");
    ASSERT_TRUE(WaitUntil([&] { return log.Count("Life message send ok") > before; }, 10));
  }
  control.RequestTerminate();
  EXPECT_TRUE(control.WaitFor(5000));
  EXPECT_EQ(log.Texts().back(), "QOV timer stop ok");
  EXPECT_EQ(log.Texts().front(), "QOV COM port open ok (" + std::string(name) + ")");
  EXPECT_EQ(log.Count("QOV version ok"), log.Count("QOV COM port open ok (" + std::string(name) + ")"));
  // Stopped after the control thread, as the stop handler does.
  TComRcvThread* receiver = control.Receiver();
  ASSERT_TRUE(receiver);
  receiver->RequestTerminate();
  EXPECT_TRUE(receiver->WaitFor(2000));
  for (const auto& line : log.Texts()) std::printf("log: %s\n", line.c_str());
}

}  // namespace
}  // namespace qov::device
