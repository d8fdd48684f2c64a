// Device faults on the real path: the control thread with the termios port
// and a running receive thread, on the system clock, against the device
// simulator (or, for the faults it has no mode for, a pty device inside the
// test). Real time: each case waits for the events it names, a few seconds.
//
//   fault                                  expected outcome
//   -------------------------------------  -----------------------------------------------------------
//   silent / garbage                       "QOV version fail" after 5 identification frames, the port
//                                          reopened, no timer frame
//   identification split by a 150 ms       two chunks, neither an identification: "version fail";
//   pause (after 9 bytes)                  split after 14 bytes of a longer id: the first part is one
//   replies 800 ms late                    heard by the next attempt: version ok, timer init ok, fed
//   drop (a new pty at once)               the next life message fails, the port (its link) is
//                                          reopened on the new pty, the whole chain again
//   unplug inside an exchange, then plug   that exchange fails, "open fail" while the link is gone,
//                                          then the whole chain again on the new pty
//   a flood of junk                        never an identification; once it stops, the next
//                                          identification is heard (nothing of the flood is left)
//   output held off (writes block)         the exchange fails after the write time-out; once the
//                                          line flows again, the chain again
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/control_thread.h"
#include "support/device_sim_process.h"
#include "support/pty_device.h"
#include "support/recording_log.h"

namespace qov::device {
namespace {

using Lines = std::vector<std::string>;

// Generous: only a hang runs into it.
constexpr int kEventLimitMs = 30'000;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The control thread on the real port of `path`, running until destroyed.
class RunningControl {
 public:
  RunningControl(const std::string& path, std::int32_t life_period_ms = 1000) {
    params_.qov_com_port = path;
    params_.life_beakon_period_ms = life_period_ms;
    thread_ = std::make_unique<TQOVControlThread>(
        DeviceContext{platform::SystemClock(), log, params_, port_, mailbox_,
                      [](const std::string& name) { return Exists(name); }});
    thread_->Start();
  }
  ~RunningControl() {
    thread_->RequestTerminate();
    thread_->WaitFor(10'000);
    // Takes the receive thread down after its owner, as the stop handler does.
    if (TComRcvThread* r = thread_->Receiver()) r->RequestTerminate();
  }

  // Waits until `text` has been logged `count` times in all.
  bool WaitFor(const std::string& text, long count = 1) {
    for (int waited = 0; waited < kEventLimitMs; waited += 10) {
      if (log.Count(text) >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "never logged '" << text << "' x" << count << "\n" << Journal();
    return false;
  }
  std::string Journal() const {
    std::string s;
    for (const auto& t : log.Texts()) s += t + "\n";
    return s;
  }
  // Messages logged after the `nth` (1-based) occurrence of `text`.
  Lines After(const std::string& text, long nth) const {
    Lines out;
    long seen = 0;
    for (const auto& t : log.Texts()) {
      if (seen >= nth) out.push_back(t);
      if (t == text) ++seen;
    }
    return out;
  }

  test::RecordingLog log;

 private:
  config::TParamRec params_;
  TComPort port_;
  RcvMailbox mailbox_;
  std::unique_ptr<TQOVControlThread> thread_;
};

long Count(const std::vector<int>& codes, int code) {
  long n = 0;
  for (int c : codes) n += c == code;
  return n;
}

// ---------------------------------------------------------------------------
// The simulator's reply modes, one row each.

struct ModeRow {
  const char* name;
  std::vector<std::string> sim_args;
  bool identified;
};

void PrintTo(const ModeRow& r, std::ostream* os) { *os << r.name; }

class PtyDeviceFaultModeTest : public ::testing::TestWithParam<ModeRow> {};

TEST_P(PtyDeviceFaultModeTest, IdentifiedOnlyWhenAnIdentificationArrivesAsOneChunk) {
  const ModeRow& row = GetParam();
  test::DeviceSimProcess sim(row.sim_args);
  ASSERT_TRUE(sim.running());
  RunningControl control(sim.Link());
  const std::string opened = "QOV COM port open ok (" + sim.Link() + ")";
  if (row.identified) {
    ASSERT_TRUE(control.WaitFor("Life message send ok"));
    EXPECT_EQ(control.log.Count("QOV version fail"), 0) << control.Journal();
    EXPECT_EQ(control.log.Count("QOV timer init fail"), 0) << control.Journal();
    return;
  }
  ASSERT_TRUE(control.WaitFor("QOV version fail"));
  ASSERT_TRUE(control.WaitFor(opened, 2)) << "the port is reopened";
  EXPECT_EQ(control.log.Count("QOV version ok"), 0) << control.Journal();
  const auto frames = sim.Frames();
  EXPECT_GE(Count(frames, CMD_VERSION), kExchangeAttempts);
  EXPECT_EQ(Count(frames, CMD_VERSION), static_cast<long>(frames.size())) << "nothing but identifications";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PtyDeviceFaultModeTest,
    ::testing::Values(ModeRow{"normal", {}, true}, ModeRow{"silent", {"--mode", "silent"}, false},
                      ModeRow{"garbage", {"--mode", "garbage"}, false},
                      ModeRow{"split_after_9", {"--mode", "split", "--split-at", "9"}, false},
                      ModeRow{"split_after_14_of_a_longer_id",
                              {"--mode", "split", "--split-at", "14", "--id", "QOV Lumo 1.0.0 build 42"}, true},
                      ModeRow{"late_800ms", {"--mode", "late", "--delay", "800"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The board goes away.

TEST(PtyDeviceFaultTest, DropMovesTheBoardToANewPtyAndTheWholeChainRunsAgain) {
  test::DeviceSimProcess sim;
  ASSERT_TRUE(sim.running());
  RunningControl control(sim.Link());
  ASSERT_TRUE(control.WaitFor("Life message send ok"));
  const std::string first_pty = sim.SlavePath();
  sim.Command("drop");
  ASSERT_TRUE(control.WaitFor("Life message send fail"));
  ASSERT_TRUE(control.WaitFor("QOV timer init ok", 2));
  ASSERT_TRUE(control.WaitFor("Life message send ok", 2));
  EXPECT_NE(sim.SlavePath(), first_pty);
  const Lines after = control.After("Life message send fail", 1);
  ASSERT_GE(after.size(), 4u) << control.Journal();
  EXPECT_EQ(Lines(after.begin(), after.begin() + 4),
            (Lines{"QOV COM port open ok (" + sim.Link() + ")", "QOV version ok", "QOV timer init ok",
                   "Life message send ok"}))
      << control.Journal();
}

// The unplug lands while a life message waits for its (late) answer.
TEST(PtyDeviceFaultTest, UnplugInsideAnExchangeThenPlugOnANewPty) {
  test::DeviceSimProcess sim({"--mode", "late", "--delay", "300"});
  ASSERT_TRUE(sim.running());
  RunningControl control(sim.Link());
  ASSERT_TRUE(control.WaitFor("Life message send ok"));
  const std::string first_pty = sim.SlavePath();
  const long lifes = Count(sim.Frames(), CMD_LIFE_MESSAGE);
  for (int i = 0; i < kEventLimitMs && Count(sim.Frames(), CMD_LIFE_MESSAGE) == lifes; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sim.Command("unplug");
  ASSERT_TRUE(control.WaitFor("Life message send fail"));
  ASSERT_TRUE(control.WaitFor("QOV COM port open fail (" + sim.Link() + ")"));
  const std::size_t frames_unplugged = sim.Frames().size();
  sim.Command("plug");
  ASSERT_TRUE(control.WaitFor("QOV timer init ok", 2));
  ASSERT_TRUE(control.WaitFor("Life message send ok", 2));
  EXPECT_NE(sim.SlavePath(), first_pty) << "back on a new pty behind the same link";
  EXPECT_GT(sim.Frames().size(), frames_unplugged);
  const Lines after = control.After("QOV COM port open fail (" + sim.Link() + ")",
                                    control.log.Count("QOV COM port open fail (" + sim.Link() + ")"));
  ASSERT_GE(after.size(), 3u) << control.Journal();
  EXPECT_EQ(Lines(after.begin(), after.begin() + 3),
            (Lines{"QOV COM port open ok (" + sim.Link() + ")", "QOV version ok", "QOV timer init ok"}))
      << control.Journal();
}

// ---------------------------------------------------------------------------
// Faults the simulator has no mode for.

TEST(PtyDeviceFaultTest, AFloodOfJunkIsNeverAnIdentificationAndNothingOfItRemainsAfterwards) {
  test::PtyDevice device;
  ASSERT_TRUE(device.ok());
  device.answering = false;
  device.flood = true;
  RunningControl control(device.SlavePath());
  ASSERT_TRUE(control.WaitFor("QOV version fail", 2));
  EXPECT_EQ(control.log.Count("QOV version ok"), 0) << control.Journal();
  device.flood = false;
  device.answering = true;
  ASSERT_TRUE(control.WaitFor("Life message send ok"));
  EXPECT_EQ(control.log.Count("QOV timer init fail"), 0) << control.Journal();
}

TEST(PtyDeviceFaultTest, OutputHeldOffFailsTheExchangeAndTheChainRunsAgainOnceItFlows) {
  test::PtyDevice device;
  ASSERT_TRUE(device.ok());
  RunningControl control(device.SlavePath());
  ASSERT_TRUE(control.WaitFor("Life message send ok"));
  device.HoldOutput(true);
  ASSERT_TRUE(control.WaitFor("Life message send fail"));
  ASSERT_TRUE(control.WaitFor("QOV version fail")) << "the identification cannot go out either";
  const long frames_held = static_cast<long>(device.Frames().size());
  device.HoldOutput(false);
  ASSERT_TRUE(control.WaitFor("QOV timer init ok", 2));
  ASSERT_TRUE(control.WaitFor("Life message send ok", 2));
  EXPECT_GT(static_cast<long>(device.Frames().size()), frames_held);
}

}  // namespace
}  // namespace qov::device
