// The counters against what the checker and the control thread did in a
// scripted run: every counted event must match a logged or requested one.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/control_thread.h"
#include "metrics/metrics.h"
#include "platform/memory_registry.h"
#include "platform/state_store.h"
#include "supervision/checker.h"
#include "support/fake_clock.h"
#include "support/fake_device.h"
#include "support/fake_probes.h"
#include "support/fake_serial_port.h"
#include "support/recording_log.h"

namespace qov::metrics {
namespace {

using platform::Tick;

struct CheckerRun {
  long modem_requests = 0;
  long pc_requests = 0;
};

// Runs the checker for one cycle per letter of `outcomes` ('o' passes, 'f'
// fails), taking reset requests as the control thread would.
CheckerRun RunChecker(const std::string& outcomes, config::TParamRec& params, Metrics& m, test::RecordingLog& log,
                      supervision::ResetHistory* history) {
  test::FakeClock clock;
  supervision::RunFlags flags;
  test::FakeProbes probes;
  device::TComPort port{std::make_unique<test::FakeSerialPort>(clock)};
  device::RcvMailbox mailbox;
  device::TQOVControlThread control{device::DeviceContext{clock, log, params, port, mailbox}};
  params.check_addr[0] = "ICMP - 10.9.9.9";
  params.check_ok_period_s = params.check_fail_period_s = 1;
  std::size_t cycle = 0;
  probes.decide = [&](const test::FakeProbes::Call&) { return outcomes[cycle++] == 'o'; };
  supervision::TOSMonitorThread checker(
      supervision::CheckerContext{clock, log, params, flags, &control, probes, nullptr, history, nullptr, &m});
  CheckerRun run;
  clock.OnSleep([&](Tick) {
    run.modem_requests += control.modem_reset_request.exchange(false);
    run.pc_requests += control.pc_reset_request.exchange(false);
    if (cycle == outcomes.size()) checker.RequestTerminate();
  });
  checker.RunHere();
  clock.OnSleep(nullptr);
  return run;
}

TEST(MetricsHooksTest, CheckerCountsCyclesAndTheResetRequestsItRaised) {
  struct Case {
    const char* name;
    std::string outcomes;
    bool modem, comp;
    std::int32_t max_per_day;
    std::int32_t failed_in_row;
  };
  for (const Case& c : {
           Case{"modem resets", "ffffoffffffo", true, false, 0, 0},
           Case{"computer resets", "offfffff", false, true, 0, 7},
           Case{"both, daily limit suppresses", "fffffffffffff", true, true, 1, 13},
       }) {
    SCOPED_TRACE(c.name);
    platform::MemoryRegistry state_registry;
    auto state = platform::RegistryStateStore(state_registry);
    supervision::ResetHistory history(*state, [] { return std::int64_t{1'800'000'000}; });
    config::TParamRec params;
    params.reset_modem = c.modem;
    params.reset_comp = c.comp;
    params.reset_comp_max_per_day = c.max_per_day;
    params.check_fail_loop_count = 1;
    params.check_fail_loop_count_before_reset_comp = 0;
    Metrics m;
    test::RecordingLog log;
    const CheckerRun run = RunChecker(c.outcomes, params, m, log, &history);
    EXPECT_EQ(m.check_cycles_ok, static_cast<std::uint64_t>(log.Count("ping ok")));
    EXPECT_EQ(m.check_cycles_fail, static_cast<std::uint64_t>(log.Count("ping fail")));
    EXPECT_EQ(m.check_cycles_ok + m.check_cycles_fail, c.outcomes.size());
    EXPECT_EQ(m.check_last_success, c.outcomes.back() == 'o');
    EXPECT_EQ(m.check_failed_in_row, c.failed_in_row);
    // Requests are not resets: the control thread counts what the board took.
    EXPECT_EQ(m.modem_resets + m.computer_resets, 0u);
    EXPECT_GT(run.modem_requests + run.pc_requests, 0) << "the script must escalate";
    // Every held-back computer reset, and only those.
    EXPECT_EQ(m.computer_resets_suppressed, static_cast<std::uint64_t>(log.Count("reset pc suppressed (1 in 24 h)")));
    if (c.max_per_day > 0) {
      EXPECT_GT(m.computer_resets_suppressed, 0u);
    }
  }
}

class ControlMetricsTest : public ::testing::Test {
 protected:
  ControlMetricsTest() {
    auto fake = std::make_unique<test::FakeSerialPort>(clock_);
    fake_ = fake.get();
    port_ = std::make_unique<device::TComPort>(std::move(fake));
    device_ = std::make_unique<test::FakeDevice>(clock_, *fake_, mailbox_);
    params_.life_beakon_period_ms = 1000;
    thread_ = std::make_unique<device::TQOVControlThread>(device::DeviceContext{
        clock_, log_, params_, *port_, mailbox_, [](const std::string&) { return true; },
        [](platform::Clock& c, device::TComPort& p, device::RcvMailbox& m) {
          return std::make_unique<device::TComRcvThread>(c, p, m);  // not started: the fake device posts itself
        },
        nullptr, &m_});
    m_.status_listener = &status_wake_;
  }
  void RunUntil(std::function<bool(Tick)> stop) {
    device_->on_time = [this, stop](Tick now) {
      seen_running_ = seen_running_ || m_.device_running;
      status_wakes_ += status_wake_.TryTake();
      if (!thread_->Terminated() && stop(now)) thread_->RequestTerminate();
    };
    thread_->RunHere();
  }
  Tick LastTimeOf(const std::string& text) const {
    Tick at = -1;
    for (const auto& l : log_.Lines())
      if (l.text == text) at = l.at;
    return at;
  }

  test::FakeClock clock_;
  test::RecordingLog log_{&clock_};
  config::TParamRec params_;
  test::FakeSerialPort* fake_;
  std::unique_ptr<device::TComPort> port_;
  device::RcvMailbox mailbox_;
  std::unique_ptr<test::FakeDevice> device_;
  Metrics m_;
  std::unique_ptr<device::TQOVControlThread> thread_;
  bool seen_running_ = false;
  platform::WakeEvent status_wake_;
  int status_wakes_ = 0;
};

TEST_F(ControlMetricsTest, LifeMessagesRunningStateAndLastAcknowledgement) {
  // Two life messages, one lost (the device goes down and comes back), then two more.
  RunUntil([this](Tick) {
    if (log_.Count("Life message send ok") == 2 && log_.Count("Life message send fail") == 0)
      device_->Answer(device::CMD_LIFE_MESSAGE, std::nullopt);
    if (log_.Count("Life message send fail") == 1) device_->Answer(device::CMD_LIFE_MESSAGE, test::FakeDevice::Ack());
    return log_.Count("Life message send ok") == 4;
  });
  EXPECT_EQ(m_.life_messages_ok, 4u);
  EXPECT_EQ(m_.life_messages_fail, 1u);
  EXPECT_TRUE(seen_running_);
  EXPECT_FALSE(m_.device_running) << "the timer was stopped";
  // The status record's writer hears of each change of the board, and only
  // of those: up, lost, up again, stopped.
  status_wakes_ += status_wake_.TryTake();
  EXPECT_EQ(status_wakes_, 4);
  // The timer stop was the last acknowledged exchange.
  EXPECT_EQ(m_.last_ack_tick, LastTimeOf("QOV timer stop ok"));
}

// Resets are counted once the board acknowledged the command; a command it
// left unanswered, or a request dropped at the stop, counts nothing.
TEST_F(ControlMetricsTest, ResetsCountWhatTheBoardTook) {
  params_.life_beakon_period_ms = 600000;
  device_->Answer(device::CMD_PC_RESET, std::nullopt);
  bool asked_again = false;
  RunUntil([&](Tick) {
    if (log_.Count("QOV timer init ok") == 1 && log_.Count("modem reset ok") == 0) {
      thread_->RequestModemReset();
      thread_->RequestComputerReset();
    }
    if (log_.Count("reset pc fail") == 1 && !asked_again) {
      asked_again = true;
      device_->Answer(device::CMD_MODEM_RESET, std::nullopt);
      device_->Answer(device::CMD_PC_RESET, test::FakeDevice::Ack());
      thread_->RequestModemReset();
      thread_->RequestComputerReset();
    }
    return log_.Count("reset pc ok") == 2 && fake_->Codes().back() == device::CMD_PC_RESET;
  });
  EXPECT_EQ(log_.Count("modem reset ok"), 1);
  EXPECT_EQ(log_.Count("modem reset fail"), 1);
  EXPECT_EQ(m_.modem_resets, 1u);
  EXPECT_EQ(m_.computer_resets, 1u) << "the second, acknowledged";
}

TEST_F(ControlMetricsTest, SilentDeviceNeverAcknowledgesNorRuns) {
  device_->Silent();
  RunUntil([this](Tick) { return log_.Count("QOV version fail") == 2; });
  EXPECT_EQ(m_.last_ack_tick, Metrics::kNever);
  EXPECT_FALSE(seen_running_);
  EXPECT_EQ(m_.life_messages_ok + m_.life_messages_fail, 0u);
}

}  // namespace
}  // namespace qov::metrics
