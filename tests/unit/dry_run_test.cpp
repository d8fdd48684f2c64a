// reset_dry_run: escalations are decided, logged, reported and counted as in
// a live run, but no reset command reaches the board, and a dry run's
// computer resets never use up the allowance of real ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/control_thread.h"
#include "device/link_protocol.h"
#include "metrics/metrics.h"
#include "platform/memory_registry.h"
#include "platform/state_store.h"
#include "supervision/checker.h"
#include "supervision/reset_history.h"
#include "support/fake_clock.h"
#include "support/fake_device.h"
#include "support/fake_probes.h"
#include "support/fake_serial_port.h"
#include "support/recording_events.h"
#include "support/recording_log.h"

namespace qov::supervision {
namespace {

using platform::Tick;
using Lines = std::vector<std::string>;

constexpr std::int64_t kWallNow = 1'800'000'000;

config::TParamRec EscalatingParams(bool dry_run) {
  config::TParamRec p;
  p.reset_dry_run = dry_run;
  p.reset_modem = p.reset_comp = true;
  p.check_fail_loop_count = 1;
  p.check_fail_loop_count_before_reset_comp = 0;  // every modem reset brings a computer reset
  p.check_ok_period_s = p.check_fail_period_s = 1;
  p.check_addr[0] = "ICMP - 10.9.9.9";  // never answers
  p.life_beakon_period_ms = 600'000;
  return p;
}

// What one escalation left behind, from the first failed cycle to the
// computer reset served by the control thread.
struct Escalation {
  Lines log;
  std::vector<std::string> events;
  std::vector<int> frames;  // command codes the board received
  std::uint64_t modem_resets = 0, computer_resets = 0, failed_cycles = 0;
  std::optional<ResetRecord> stored;  // what the next start would report
};

// The checker and the control thread of one run, each on its own fake clock:
// the board is brought up, then the checker runs inside the control thread's
// wait until its second failed cycle raised both resets, and the control
// thread serves them.
Escalation RunEscalation(bool dry_run) {
  const config::TParamRec params = EscalatingParams(dry_run);
  test::FakeClock board_clock;
  test::FakeClock checker_clock;
  test::RecordingLog log;
  test::RecordingEvents events;
  metrics::Metrics counted;

  auto serial = std::make_unique<test::FakeSerialPort>(board_clock);
  test::FakeSerialPort& wire = *serial;
  device::TComPort port(std::move(serial));
  device::RcvMailbox mailbox;
  test::FakeDevice board(board_clock, wire, mailbox);
  device::DeviceContext device_ctx{board_clock, log, params, port, mailbox,
                                   [](const std::string&) { return true; },
                                   [](platform::Clock& c, device::TComPort& p, device::RcvMailbox& m) {
                                     return std::make_unique<device::TComRcvThread>(c, p, m);  // not started
                                   }};
  device_ctx.events = &events;
  device_ctx.metrics = &counted;
  device::TQOVControlThread control(std::move(device_ctx));

  platform::MemoryRegistry state_registry;
  auto state = platform::RegistryStateStore(state_registry);
  ResetHistory history(*state, [] { return kWallNow; });
  RunFlags flags;
  test::FakeProbes probes;
  TOSMonitorThread checker(
      CheckerContext{checker_clock, log, params, flags, &control, probes, nullptr, &history, &events, &counted});
  checker_clock.OnSleep([&](Tick) {
    if (log.Count("ping fail") == 2) checker.RequestTerminate();
  });

  const auto frames = [&wire] { return wire.Codes(); };
  bool checked = false;
  board.on_time = [&](Tick) {
    if (!checked && log.Count("QOV timer init ok") == 1) {
      checked = true;
      checker.RunHere();
    }
    const auto sent = frames();
    const bool served = log.Count("reset pc skipped (dry run)") == 1 ||
                        std::count(sent.begin(), sent.end(), device::CMD_PC_RESET) == 1;
    if (served && !control.Terminated()) control.RequestTerminate();
  };
  control.RunHere();

  Escalation out;
  out.log = log.Texts();
  out.events = events.Texts();
  out.frames = frames();
  out.modem_resets = counted.modem_resets;
  out.computer_resets = counted.computer_resets;
  out.failed_cycles = counted.check_cycles_fail;
  out.stored = ResetHistory(*state, [] { return kWallNow; }).TakeUnreported();
  return out;
}

TEST(DryRunTest, AnEscalationReachesTheBoardOnlyOutsideADryRun) {
  const Escalation live = RunEscalation(false);
  const Escalation dry = RunEscalation(true);

  EXPECT_EQ(live.frames, (std::vector<int>{device::CMD_VERSION, device::CMD_TIMER_INIT, device::CMD_MODEM_RESET,
                                           device::CMD_PC_RESET, device::CMD_TIMER_STOP}));
  EXPECT_EQ(live.log, (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok", "ping fail",
                             "ping fail", "modem reset ok", "reset pc ok", "QOV timer stop ok"}));
  ASSERT_TRUE(live.stored);
  EXPECT_EQ(live.stored->reason, "2 failed cycles in a row, 1 modem resets");

  EXPECT_EQ(dry.frames, (std::vector<int>{device::CMD_VERSION, device::CMD_TIMER_INIT, device::CMD_TIMER_STOP}))
      << "no reset command reaches the board";
  EXPECT_EQ(dry.log, (Lines{"QOV COM port open ok (COM3)", "QOV version ok", "QOV timer init ok", "ping fail",
                            "ping fail", "modem reset skipped (dry run)", "reset pc skipped (dry run)",
                            "QOV timer stop ok"}));
  EXPECT_FALSE(dry.stored) << "the next start must not report a computer reset that never happened";

  // Decided, reported and counted alike.
  EXPECT_EQ(dry.events, live.events);
  EXPECT_EQ(dry.events.size(), 3u) << "checks failing, modem reset, computer reset";
  for (const Escalation* run : {&live, &dry}) {
    EXPECT_EQ(run->modem_resets, 1u);
    EXPECT_EQ(run->computer_resets, 1u);
    EXPECT_EQ(run->failed_cycles, 2u);
  }
}

// The reboot-loop guard in a dry run: its computer resets count against its
// own allowance for a day, on top of the real ones stored, but are never
// stored, so a live run after it still has its full allowance.
TEST(DryRunTest, TheGuardCountsDryRunResetsWithoutUsingUpTheRealAllowance) {
  test::FakeClock clock;
  test::RecordingLog log;
  platform::MemoryRegistry state_registry;
  auto state = platform::RegistryStateStore(state_registry);
  ResetHistory history(*state, [] { return kWallNow; });
  test::FakeProbes probes;
  device::TComPort port{std::make_unique<test::FakeSerialPort>(clock)};
  device::RcvMailbox mailbox;
  config::TParamRec params = EscalatingParams(true);
  params.reset_comp_max_per_day = 1;
  params.check_ok_period_s = params.check_fail_period_s = 60;
  device::TQOVControlThread control{device::DeviceContext{clock, log, params, port, mailbox}};  // flags only

  // The computer resets requested in `ms` of one run, by the time since its start.
  const auto run_for = [&](Tick ms) {
    RunFlags flags;
    std::vector<Tick> requested;
    const Tick start = clock.NowMs();
    TOSMonitorThread checker(
        CheckerContext{clock, log, params, flags, &control, probes, nullptr, &history, nullptr, nullptr});
    clock.OnSleep([&](Tick now) {
      control.modem_reset_request = false;
      if (control.pc_reset_request.exchange(false)) requested.push_back(now - start);
      if (now - start >= ms) checker.RequestTerminate();
    });
    checker.RunHere();
    clock.OnSleep(nullptr);
    return requested;
  };

  // One a day passes in a dry run (at the second failed cycle); the next
  // ones are suppressed, until a day after the first. Nothing is stored.
  clock.SetStep(1000);
  const Tick cycle_ms = 60'000;
  const Tick day_ms = kResetWindowSeconds * 1000;
  std::vector<Tick> requested = run_for(day_ms + 3 * cycle_ms);
  ASSERT_EQ(requested.size(), 2u);
  EXPECT_LE(requested[0], cycle_ms + 1000);
  EXPECT_EQ(requested[1] - requested[0], day_ms) << "the first cycle a day later";
  EXPECT_GE(log.Count("reset pc suppressed (1 in 24 h)"), day_ms / cycle_ms - 1) << "every cycle in between";
  EXPECT_EQ(history.CountLastDay(), 0);

  // A live run after it: its reset goes out and is stored.
  log.Clear();
  params.reset_dry_run = false;
  requested = run_for(3 * cycle_ms);
  ASSERT_EQ(requested.size(), 1u) << "the dry run used up none of the real allowance";
  EXPECT_EQ(history.CountLastDay(), 1);

  // A dry run counts the real reset stored: none passes.
  log.Clear();
  params.reset_dry_run = true;
  requested = run_for(3 * cycle_ms);
  EXPECT_TRUE(requested.empty());
  EXPECT_GT(log.Count("reset pc suppressed (1 in 24 h)"), 0);
  EXPECT_EQ(history.CountLastDay(), 1);
}

}  // namespace
}  // namespace qov::supervision
