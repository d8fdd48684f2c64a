#include "device/control_thread.h"

#include <gtest/gtest.h>

#include <limits>

#include <algorithm>
#include <string>
#include <vector>

#include "supervision/reset_history.h"
#include "support/failing_state_store.h"
#include "support/fake_clock.h"
#include "support/fake_device.h"
#include "support/fake_serial_port.h"
#include "support/recording_events.h"
#include "support/recording_log.h"

namespace qov::device {
namespace {

using platform::Tick;
using Lines = std::vector<std::string>;

// Makes receive threads that are never started: the fake device posts itself.
std::function<std::unique_ptr<TComRcvThread>(platform::Clock&, TComPort&, RcvMailbox&)> StartNothing() {
  return [](platform::Clock& c, TComPort& p, RcvMailbox& m) { return std::make_unique<TComRcvThread>(c, p, m); };
}

class ControlThreadTest : public ::testing::Test {
 protected:
  ControlThreadTest() {
    auto fake = std::make_unique<test::FakeSerialPort>(clock_);
    fake_ = fake.get();
    port_ = std::make_unique<TComPort>(std::move(fake));
    device_ = std::make_unique<test::FakeDevice>(clock_, *fake_, mailbox_);
    params_.life_beakon_period_ms = 1000;
    DeviceContext ctx{clock_, log_, params_, *port_, mailbox_,
                      [this](const std::string& name) { return present_ && name == "COM3"; },
                      [this](platform::Clock& c, TComPort& p, RcvMailbox& m) {
                        receivers_made_++;
                        return std::make_unique<TComRcvThread>(c, p, m);  // not started: the fake device posts itself
                      }};
    ctx.events = &events_;
    thread_ = std::make_unique<TQOVControlThread>(std::move(ctx));
  }

  // Runs the body on this thread; `stop` is asked after every sleep.
  void RunUntil(std::function<bool(Tick)> stop) {
    device_->on_time = [this, stop](Tick now) {
      if (!thread_->Terminated() && stop(now)) {
        terminate_at_ = now;
        thread_->RequestTerminate();
      }
    };
    thread_->RunHere();
  }
  void ExpectLifeMessageOnEveryPass() {
    RunUntil([this](Tick) { return log_.Count("Life message send ok") == 4; });
    const auto life = FrameTimes(CMD_LIFE_MESSAGE);
    ASSERT_EQ(life.size(), 4u);
    EXPECT_EQ(life[0] - FrameTimes(CMD_TIMER_INIT)[0], 50);
    for (std::size_t i = 1; i < life.size(); ++i) EXPECT_EQ(life[i] - life[i - 1], 50);
  }
  std::vector<Tick> TimesOf(const std::string& text) const {
    std::vector<Tick> at;
    for (const auto& l : log_.Lines())
      if (l.text == text) at.push_back(l.at);
    return at;
  }
  std::vector<Tick> FrameTimes(int code) const {
    std::vector<Tick> at;
    for (const auto& w : fake_->WrittenFrames())
      if (w.bytes[3] == code) at.push_back(w.at);
    return at;
  }

  // A thread that stores test outcomes in `state_` and counts in `metrics_`.
  void UseThreadWithState() {
    DeviceContext ctx{clock_, log_, params_, *port_, mailbox_, [this](const std::string&) { return present_; },
                      StartNothing()};
    ctx.events = &events_;
    ctx.metrics = &metrics_;
    ctx.state = &state_;
    ctx.utc_now = [] { return std::int64_t{1'765'300'000}; };
    thread_ = std::make_unique<TQOVControlThread>(std::move(ctx));
  }
  std::optional<TestOutcome> StoredOutcome() {
    const auto text = state_.Get(kTestOutcomeName);
    return text ? ParseTestOutcome(*text) : std::nullopt;
  }

  test::FakeClock clock_;
  test::RecordingLog log_{&clock_};
  config::TParamRec params_;
  test::FakeSerialPort* fake_;
  std::unique_ptr<TComPort> port_;
  RcvMailbox mailbox_;
  std::unique_ptr<test::FakeDevice> device_;
  std::unique_ptr<TQOVControlThread> thread_;
  test::RecordingEvents events_;
  metrics::Metrics metrics_;
  test::FailingStateStore state_;
  bool present_ = true;
  int receivers_made_ = 0;
  Tick terminate_at_ = 0;
};

TEST_F(ControlThreadTest, MissingPortLogsOneFailLineEveryFiveSeconds) {
  present_ = false;
  RunUntil([](Tick now) { return now >= 21000; });
  const auto fails = TimesOf("QOV COM port open fail (COM3)");
  ASSERT_EQ(fails.size(), 4u);
  EXPECT_EQ(fails[0], 6000);
  // Five seconds and the pause before the next try; the stop cut the last wait short.
  EXPECT_EQ(fails[1] - fails[0], 5050);
  EXPECT_EQ(fails[2] - fails[1], 5050);
  EXPECT_EQ(fails[3], 21000);
  EXPECT_TRUE(fake_->OpenPaths().empty());
  EXPECT_TRUE(fake_->Codes().empty());
}

TEST_F(ControlThreadTest, UnopenablePortTriesFiveTimesAndLogsEveryThirtySeconds) {
  fake_->open_succeeds = false;
  RunUntil([](Tick now) { return now >= 1000 + 65000; });
  const auto fails = TimesOf("QOV COM port open fail (COM3)");
  ASSERT_EQ(fails.size(), 3u);  // the third round ends without its waits
  EXPECT_EQ(fails[0], 31000);
  EXPECT_EQ(fails[1] - fails[0], 30050);
  EXPECT_EQ(fake_->OpenPaths().size(), 15u);
  EXPECT_EQ(fake_->OpenPaths()[0], platform::SerialDevicePath("COM3"));
  EXPECT_TRUE(fake_->Codes().empty());
  EXPECT_EQ(receivers_made_, 0);
}

TEST_F(ControlThreadTest, BringsTheDeviceUpFeedsItAndStopsItsTimerAtTheEnd) {
  RunUntil([this](Tick) { return log_.Count("Life message send ok") == 3; });
  EXPECT_EQ(log_.Texts(), (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok",
                                 "Life message send ok", "Life message send ok", "Life message send ok",
                                 "QOV timer stop ok"}));
  EXPECT_EQ(fake_->Codes(), (std::vector<int>{1, 3, 5, 5, 5, 4}));
  const auto life = FrameTimes(CMD_LIFE_MESSAGE);
  // Each one period after the last send, to the millisecond.
  EXPECT_EQ(life[0] - FrameTimes(CMD_TIMER_INIT)[0], 1000);
  EXPECT_EQ(life[1] - life[0], 1000);
  EXPECT_EQ(life[2] - life[1], 1000);
  EXPECT_FALSE(thread_->device_running());
  // The timer stop went out while the receive thread still existed, untouched.
  ASSERT_TRUE(thread_->Receiver());
  EXPECT_FALSE(thread_->Receiver()->Terminated());
  EXPECT_EQ(receivers_made_, 1);
}

// The host's watchdog is fed only while this thread keeps its promise: never
// broken while it works, bounded while it waits, and gone once it ended.
TEST_F(ControlThreadTest, PromisesProgressWithinItsLongestPassAndNothingOnceEnded) {
  bool bounded_while_waiting = false;
  RunUntil([&](Tick now) {
    EXPECT_FALSE(thread_->ProgressOverdue(now)) << now;
    if (thread_->device_running()) bounded_while_waiting |= thread_->ProgressOverdue(now + 1000 + 60000 + 1);
    return log_.Count("Life message send ok") == 2;
  });
  EXPECT_TRUE(bounded_while_waiting);
  EXPECT_FALSE(thread_->ProgressOverdue(std::numeric_limits<Tick>::max() - 1));
}

TEST_F(ControlThreadTest, FailedLifeMessageReopensThePortAndIdentifiesAgain) {
  RunUntil([this](Tick) {
    if (log_.Count("Life message send ok") == 1 && log_.Count("Life message send fail") == 0)
      device_->Answer(CMD_LIFE_MESSAGE, std::nullopt);
    if (log_.Count("Life message send fail") == 1) device_->Answer(CMD_LIFE_MESSAGE, test::FakeDevice::Ack());
    return log_.Count("Life message send ok") == 2;
  });
  EXPECT_EQ(log_.Texts(),
            (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok", "Life message send ok",
                   "Life message send fail", "QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok",
                   "Life message send ok", "QOV timer stop ok"}));
  EXPECT_EQ(fake_->OpenPaths().size(), 2u);
  EXPECT_EQ(fake_->Closes(), 1);
  EXPECT_EQ(receivers_made_, 2);
}

// One event per spell of trouble, however many retries it takes, and one
// when the board runs again: missing at start, found, silent, found again.
TEST_F(ControlThreadTest, BoardTroubleIsReportedOncePerSpellAndItsReturnOnce) {
  present_ = false;
  RunUntil([this](Tick) {
    if (log_.Count("QOV COM port open fail (COM3)") == 3) present_ = true;
    if (log_.Count("Life message send ok") == 1 && log_.Count("Life message send fail") == 0)
      device_->Answer(CMD_LIFE_MESSAGE, std::nullopt);
    if (log_.Count("Life message send fail") == 1 && log_.Count("QOV version fail") == 0)
      device_->Answer(CMD_VERSION, std::nullopt);
    if (log_.Count("QOV version fail") == 2) {
      device_->Answer(CMD_VERSION, test::FakeDevice::Lumo());
      device_->Answer(CMD_LIFE_MESSAGE, test::FakeDevice::Ack());
    }
    return log_.Count("Life message send ok") == 2;
  });
  EXPECT_EQ(events_.Texts(), (Lines{"1100 COM3|port open fail", "1101 COM3", "1102 COM3|", "1101 COM3"}));
}

TEST_F(ControlThreadTest, SilentDeviceRepeatsOpenAndIdentificationWithoutWaits) {
  device_->Silent();
  RunUntil([this](Tick) { return log_.Count("QOV version fail") == 3; });
  const auto opens = TimesOf("QOV COM port open ok (COM3)");
  ASSERT_EQ(opens.size(), 3u);
  EXPECT_EQ(opens[1] - opens[0], 2550);  // the exchange's 2.5 s and one pass sleep
  EXPECT_EQ(fake_->Codes(), std::vector<int>(15, CMD_VERSION));  // nothing at the end either
}

TEST_F(ControlThreadTest, BothResetRequestsInOnePass) {
  params_.life_beakon_period_ms = 600000;
  RunUntil([this](Tick) {
    if (log_.Count("QOV timer init ok") == 1 && fake_->Codes().size() == 2) {
      thread_->RequestModemReset();
      thread_->RequestComputerReset();
    }
    return fake_->Codes().size() == 4;
  });
  EXPECT_EQ(fake_->Codes(), (std::vector<int>{1, 3, 2, 174, 4}));
  EXPECT_EQ(log_.Texts(), (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok",
                                 "modem reset ok", "reset pc ok", "QOV timer stop ok"}));
  EXPECT_EQ(FrameTimes(CMD_PC_RESET)[0] - TimesOf("reset pc ok")[0], 1000);
  EXPECT_EQ(FrameTimes(CMD_MODEM_RESET)[0], TimesOf("reset pc ok")[0]);
  EXPECT_FALSE(thread_->modem_reset_request);
  EXPECT_FALSE(thread_->pc_reset_request);
}

TEST_F(ControlThreadTest, ModemResetIsLoggedOkOnlyWhenAcknowledged) {
  params_.life_beakon_period_ms = 600000;
  device_->Answer(CMD_MODEM_RESET, std::nullopt);
  RunUntil([this](Tick) {
    if (fake_->Codes().size() == 2 && log_.Count("modem reset fail") == 0) thread_->RequestModemReset();
    if (log_.Count("modem reset fail") == 1 && log_.Count("modem reset ok") == 0) {
      device_->Answer(CMD_MODEM_RESET, test::FakeDevice::Ack());
      thread_->RequestModemReset();
    }
    return log_.Count("modem reset ok") == 1;
  });
  EXPECT_EQ(fake_->Codes(), (std::vector<int>{1, 3, 2, 2, 2, 2, 2, 2, 4}));
  EXPECT_EQ(log_.Texts(), (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok",
                                 "modem reset fail", "modem reset ok", "QOV timer stop ok"}));
}

// A port whose writes never go out (flow control held off, reader gone):
// each write fails at its time-out, and the first failed write ends the
// exchange, so the life message fails within about a second, the port is
// reopened, and the stop's timer-stop exchange cannot outlast its limit.
TEST_F(ControlThreadTest, BlockedWritesFailTheExchangeAtOnceAndReopenThePort) {
  RunUntil([this](Tick) {
    if (log_.Count("Life message send ok") == 1 && !fake_->writes_block) fake_->writes_block = true;
    return log_.Count("QOV version fail") == 1;
  });
  const Tick failed_at = TimesOf("Life message send fail").at(0);
  // The life message, the identification after the reopen, and the timer
  // stop at the end: the board's timer may still run.
  EXPECT_EQ(fake_->BlockedWrites(), 3);
  EXPECT_LE(failed_at - TimesOf("Life message send ok").at(0), 1000 + 1050 + 50);
  EXPECT_EQ(log_.Texts(), (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok",
                                 "Life message send ok", "Life message send fail", "QOV COM port open ok (COM3)",
                                 "QOV version fail", "QOV timer stop fail"}));
  EXPECT_EQ(fake_->Closes(), 1);
  EXPECT_EQ(receivers_made_, 2);
}

// At a stop the timer stop goes first: a computer reset still in its
// second's wait and requests not yet taken are dropped, each said in the
// log, and a life message to a board gone silent is cut short. So the stop
// of a silent board costs one exchange, well inside the 5 s limit.
TEST_F(ControlThreadTest, AStopDropsPendingResetsAndSendsTheTimerStopFirst) {
  params_.life_beakon_period_ms = 600000;
  RunUntil([this](Tick) {
    if (fake_->Codes().size() == 2 && log_.Count("reset pc ok") == 0) thread_->RequestComputerReset();
    return log_.Count("reset pc ok") == 1;
  });
  EXPECT_EQ(fake_->Codes(), (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(log_.Texts(), (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok", "reset pc ok",
                                 "reset pc dropped: service stopping", "QOV timer stop ok"}));

  // A board that listens but never answers, both requests pending and a life
  // message due when the stop comes.
  log_.Clear();
  const std::size_t before = fake_->Codes().size();
  params_.life_beakon_period_ms = 1000;
  thread_ = std::make_unique<TQOVControlThread>(DeviceContext{
      clock_, log_, params_, *port_, mailbox_, [](const std::string&) { return true; }, StartNothing()});
  device_->Answer(CMD_LIFE_MESSAGE, test::FakeDevice::Ack());
  RunUntil([this, before](Tick) {
    if (log_.Count("Life message send ok") == 1) device_->Silent();
    if (fake_->Codes().size() < before + 4) return false;
    thread_->RequestModemReset();  // raised inside the second life message, with the stop
    thread_->RequestComputerReset();
    return true;
  });
  const std::vector<int> codes = fake_->Codes();
  EXPECT_EQ(std::vector<int>(codes.begin() + static_cast<std::ptrdiff_t>(before), codes.end()),
            (std::vector<int>{1, 3, 5, 5, 4, 4, 4, 4, 4}));
  EXPECT_LE(clock_.NowMs() - terminate_at_, 2500 + 100);
  EXPECT_EQ(log_.Texts(), (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok",
                                 "Life message send ok", "QOV timer stop fail", "modem reset dropped: service stopping",
                                 "reset pc dropped: service stopping"}));
}

// A request raised while the board is away is taken if the board comes back
// within the next check period; past it the request is stale, dropped and
// logged, and never sent when the board returns later. A reset command the
// board does not acknowledge is logged as failed.
TEST_F(ControlThreadTest, RequestsWhileTheBoardIsAwayGoStaleAfterACheckPeriod) {
  params_.life_beakon_period_ms = 600000;
  params_.check_fail_period_s = 20;
  device_->Answer(CMD_PC_RESET, std::nullopt);
  present_ = false;
  Tick asked_at = 0;
  RunUntil([&](Tick now) {
    if (asked_at == 0 && log_.Count("QOV COM port open fail (COM3)") == 1) {
      asked_at = now;
      thread_->RequestComputerReset();
    }
    if (asked_at != 0 && now >= asked_at + 30000 && !present_) present_ = true;  // beyond the period
    if (log_.Count("QOV timer init ok") == 1 && log_.Count("modem reset ok") == 0) thread_->RequestModemReset();
    return log_.Count("modem reset ok") == 1;
  });
  const auto dropped = TimesOf("reset pc dropped: board not running");
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_GE(dropped[0] - asked_at, 20000);
  EXPECT_LE(dropped[0] - asked_at, 20000 + 5050 + 250);  // noticed within one open round
  EXPECT_EQ(log_.Count("reset pc ok"), 0);
  EXPECT_EQ(FrameTimes(CMD_PC_RESET).size(), 0u) << "a stale request never reaches the board";

  // Within the period the request goes out once the board is back; unanswered, it failed.
  log_.Clear();
  thread_ = std::make_unique<TQOVControlThread>(DeviceContext{
      clock_, log_, params_, *port_, mailbox_, [this](const std::string&) { return present_; }, StartNothing()});
  present_ = false;
  asked_at = 0;
  RunUntil([&](Tick now) {
    if (asked_at == 0 && log_.Count("QOV COM port open fail (COM3)") == 1) {
      asked_at = now;
      thread_->RequestComputerReset();
    }
    if (asked_at != 0 && now >= asked_at + 5000) present_ = true;
    return log_.Count("reset pc fail") == 1;
  });
  EXPECT_EQ(log_.Count("reset pc dropped: board not running"), 0);
  Lines texts = log_.Texts();
  texts.erase(texts.begin(), std::find(texts.begin(), texts.end(), "QOV COM port open ok (COM3)"));
  EXPECT_EQ(texts, (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok", "reset pc ok",
                          "reset pc fail", "QOV timer stop ok"}));
  EXPECT_EQ(FrameTimes(CMD_PC_RESET).size(), 5u);
}

TEST_F(ControlThreadTest, TerminateDuringOpenWaitsEndsWithinAQuarterSecondSendingNothing) {
  fake_->open_succeeds = false;
  RunUntil([](Tick now) { return now >= 1000 + 7100; });  // inside the second wait
  // The wait ends within 250 ms; the rest of the pass is the fail line and one 50 ms sleep.
  EXPECT_LE(clock_.NowMs() - terminate_at_, 250 + 50);
  EXPECT_EQ(log_.Texts(), (Lines{"QOV COM port open fail (COM3)"}));
  EXPECT_EQ(fake_->OpenPaths().size(), 5u);  // the remaining attempts run without waiting
  EXPECT_TRUE(fake_->Codes().empty());
}

// A stop inside the identification ends it at once (it changes nothing on
// the board, so nothing is left to undo); a stop inside the timer start lets
// the pass complete, since the board may have started its timer, and the
// timer stop follows at once.
TEST_F(ControlThreadTest, TerminateInTheIdentificationEndsItButInTheTimerStartCompletesThePass) {
  device_->Answer(CMD_VERSION, test::FakeDevice::Reply{{"QOV Lumo 1.0.0"}, 100});  // late: the stop lands inside
  RunUntil([](Tick) { return true; });
  EXPECT_EQ(fake_->Codes(), (std::vector<int>{1}));
  EXPECT_EQ(log_.Texts(), (Lines{"QOV COM port open ok (COM3)"}));

  log_.Clear();
  thread_ = std::make_unique<TQOVControlThread>(DeviceContext{
      clock_, log_, params_, *port_, mailbox_, [](const std::string&) { return true; }, StartNothing()});
  device_->Answer(CMD_VERSION, test::FakeDevice::Reply{{"QOV Lumo 1.0.0"}, 0});
  device_->Answer(CMD_TIMER_INIT, test::FakeDevice::Reply{{"Z"}, 100});
  RunUntil([this](Tick) { return fake_->Codes().size() >= 3; });
  EXPECT_EQ(fake_->Codes(), (std::vector<int>{1, 1, 3, 4}));
  EXPECT_EQ(log_.Texts(), (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok",
                                 "QOV timer stop ok"}));
}

TEST_F(ControlThreadTest, ZeroPeriodFeedsOnEveryPass) {
  params_.life_beakon_period_ms = 0;
  ExpectLifeMessageOnEveryPass();
}

TEST_F(ControlThreadTest, NegativePeriodFeedsOnEveryPass) {
  params_.life_beakon_period_ms = -5000;
  ExpectLifeMessageOnEveryPass();
}

TEST_F(ControlThreadTest, TimerStopWithoutAcknowledgementIsLoggedAsFailure) {
  device_->Answer(CMD_TIMER_STOP, std::nullopt);
  RunUntil([this](Tick) { return log_.Count("QOV timer init ok") == 1; });
  EXPECT_EQ(log_.Texts().back(), "QOV timer stop fail");
  EXPECT_TRUE(thread_->device_running());
}

// An operator's test while the board runs: the reset goes out at once, the
// log says who asked, the metrics count it and the outcome is stored for the
// command that asked; a dry run does not hold it back. It is none of the
// checker's business: its request flags stay clear and the reboot-loop
// guard's history is never written.
TEST_F(ControlThreadTest, TestResetsReachTheBoardAndStoreTheirOutcome) {
  struct Case {
    const char* name;
    bool computer;
    bool dry_run;
    bool board_acks;
    Lines lines;
    TestResult result;
  };
  const Case cases[] = {
      {"modem", false, false, true, {"modem reset requested by test", "modem reset ok"}, TestResult::kOk},
      {"modem in a dry run", false, true, true, {"modem reset requested by test", "modem reset ok"}, TestResult::kOk},
      {"modem unacknowledged", false, false, false, {"modem reset requested by test", "modem reset fail"},
       TestResult::kFail},
      {"computer", true, false, true, {"reset pc requested by test", "reset pc ok"}, TestResult::kOk},
      {"computer in a dry run", true, true, true, {"reset pc requested by test", "reset pc ok"}, TestResult::kOk},
      {"computer unacknowledged", true, false, false, {"reset pc requested by test", "reset pc ok", "reset pc fail"},
       TestResult::kFail},
  };
  std::uint64_t sequence = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.Clear();
    const std::size_t events_before = events_.Texts().size();
    metrics_.modem_resets = 0;
    metrics_.computer_resets = 0;
    params_.life_beakon_period_ms = 600000;
    params_.reset_dry_run = c.dry_run;
    const std::uint8_t code = c.computer ? CMD_PC_RESET : CMD_MODEM_RESET;
    device_->Answer(code, c.board_acks ? std::optional(test::FakeDevice::Ack()) : std::nullopt);
    UseThreadWithState();
    const std::size_t before = FrameTimes(code).size();
    bool asked = false;
    RunUntil([&](Tick) {
      if (!asked && thread_->device_running()) {
        asked = true;
        c.computer ? thread_->RequestTestComputerReset() : thread_->RequestTestModemReset();
      }
      return StoredOutcome() && StoredOutcome()->sequence == sequence + 1;
    });
    ++sequence;
    EXPECT_GE(FrameTimes(code).size(), before + 1) << "the board received the reset frame";
    Lines texts = log_.Texts();
    texts.erase(texts.begin(), texts.begin() + 3);  // open, version, timer init
    texts.pop_back();                               // the timer stop
    EXPECT_EQ(texts, c.lines);
    const auto outcome = StoredOutcome();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(*outcome, (TestOutcome{sequence, c.computer ? TestKind::kComputer : TestKind::kModem, c.result,
                                     1'765'300'000, ""}));
    EXPECT_EQ(metrics_.modem_resets, !c.computer && c.board_acks ? 1u : 0u);
    EXPECT_EQ(metrics_.computer_resets, c.computer && c.board_acks ? 1u : 0u);
    const Lines events = events_.Texts();
    EXPECT_EQ(Lines(events.begin() + static_cast<std::ptrdiff_t>(events_before), events.end()),
              (Lines{std::string(c.computer ? "1301" : "1300") + " requested by test"}));
    EXPECT_FALSE(thread_->modem_reset_request || thread_->pc_reset_request);
    supervision::ResetHistory history(state_, [] { return std::int64_t{1'765'300'000}; });
    EXPECT_EQ(history.CountLastDay(), 0);
    for (const auto& write : state_.writes) EXPECT_EQ(write.name, kTestOutcomeName);
  }
}

// While the board is away or the service stops, a test request ends at
// once as dropped, with the reason stored for the command: nothing reaches
// the board, and it is not held back for the board's return.
TEST_F(ControlThreadTest, TestResetsAreDroppedAtOnceWhileTheBoardIsAwayOrAtTheStop) {
  present_ = false;
  UseThreadWithState();
  Tick asked_at = 0;
  RunUntil([&](Tick now) {
    if (asked_at == 0 && log_.Count("QOV COM port open fail (COM3)") == 1) {
      asked_at = now;
      thread_->RequestTestModemReset();
    }
    if (StoredOutcome() && !present_) present_ = true;  // the board back after the drop
    return log_.Count("QOV timer init ok") == 1;
  });
  // Dropped at the end of the pass that was under way: not a check period later.
  EXPECT_LE(TimesOf("modem reset dropped: board not running").at(0) - asked_at, 5000 + 50);
  EXPECT_EQ(log_.Texts(), (Lines{"QOV COM port open fail (COM3)", "QOV COM port open fail (COM3)",
                                 "modem reset requested by test", "modem reset dropped: board not running",
                                 "QOV COM port open ok (COM3)",
                                 "QOV version ok", "QOV timer init ok", "QOV timer stop ok"}));
  EXPECT_EQ(StoredOutcome(), (TestOutcome{1, TestKind::kModem, TestResult::kDropped, 1'765'300'000,
                                          "board not running"}));
  EXPECT_TRUE(FrameTimes(CMD_MODEM_RESET).empty());

  log_.Clear();
  UseThreadWithState();
  RunUntil([&](Tick) {
    if (!thread_->device_running()) return false;
    thread_->RequestTestComputerReset();  // raised with the stop
    return true;
  });
  EXPECT_EQ(StoredOutcome(), (TestOutcome{2, TestKind::kComputer, TestResult::kDropped, 1'765'300'000,
                                          "service stopping"}));
  EXPECT_EQ(log_.Count("reset pc dropped: service stopping"), 1);
  EXPECT_TRUE(FrameTimes(CMD_PC_RESET).empty());
}

}  // namespace
}  // namespace qov::device
