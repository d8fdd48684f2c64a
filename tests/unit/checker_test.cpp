#include "supervision/checker.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device/control_thread.h"
#include "platform/memory_registry.h"
#include "support/failing_state_store.h"
#include "support/fake_clock.h"
#include "support/fake_probes.h"
#include "support/fake_serial_port.h"
#include "support/recording_events.h"
#include "support/recording_log.h"

namespace qov::supervision {
namespace {

using platform::Tick;

class CheckerTest : public ::testing::Test {
 protected:
  CheckerTest() { params.check_addr[0] = "ICMP - 10.9.9.9"; }

  // Runs the body on this thread for `ms` of fake time. After every sleep the
  // reset requests are taken, as the control thread would, and noted with the
  // number of the cycle that raised them.
  void RunFor(Tick ms) {
    const Tick end = clock.NowMs() + ms;
    TOSMonitorThread checker(CheckerContext{clock, log, params, flags, with_control ? &control : nullptr, probes,
                                            [this](const std::atomic<bool>&) { program_steps.push_back(clock.NowMs()); },
                                            history, events, metrics});
    clock.OnSleep([&](Tick now) {
      if (control.modem_reset_request.exchange(false)) modem_resets.push_back(Cycles());
      if (control.pc_reset_request.exchange(false)) pc_resets.push_back(Cycles());
      if (now >= end) checker.RequestTerminate();
      if (after_sleep) after_sleep();
    });
    checker.RunHere();
    clock.OnSleep(nullptr);
  }
  int Cycles() const { return static_cast<int>(log.Count("ping ok") + log.Count("ping fail")); }
  std::vector<Tick> TimesOf(const std::string& text) const {
    std::vector<Tick> out;
    for (const auto& l : log.Lines()) {
      if (l.text == text) out.push_back(l.at);
    }
    return out;
  }

  test::FakeClock clock;
  test::RecordingLog log{&clock};
  config::TParamRec params;
  RunFlags flags;
  test::FakeProbes probes;
  // The control thread is never started: only its request flags are used.
  device::TComPort port{std::make_unique<test::FakeSerialPort>(clock)};
  device::RcvMailbox mailbox;
  device::TQOVControlThread control{device::DeviceContext{clock, log, params, port, mailbox}};
  bool with_control = true;
  ResetHistory* history = nullptr;
  config::Events* events = nullptr;
  metrics::Metrics* metrics = nullptr;
  std::vector<Tick> program_steps;
  // Called after the reset requests are taken at every sleep.
  std::function<void()> after_sleep;
  std::vector<int> modem_resets;
  std::vector<int> pc_resets;
};

constexpr Tick kMinute = 60'000;

TEST_F(CheckerTest, FirstEscalationAtEleventhFailedCycleThenEveryTenth) {
  params.reset_modem = true;
  RunFor(43 * kMinute);
  EXPECT_EQ(Cycles(), 41);  // at once, after the ok period (the start counts as a success), then every 60 s
  EXPECT_EQ(modem_resets, (std::vector<int>{11, 21, 31, 41}));
  EXPECT_TRUE(pc_resets.empty());
  EXPECT_FALSE(flags.last_check_ok);
}

TEST_F(CheckerTest, BothFlagsThirdEscalationAlsoResetsComputer) {
  params.reset_modem = true;
  params.reset_comp = true;
  RunFor(43 * kMinute);
  EXPECT_EQ(modem_resets, (std::vector<int>{11, 21, 31, 41}));
  EXPECT_EQ(pc_resets, (std::vector<int>{31}));
}

TEST_F(CheckerTest, OnlyComputerResetEscalatesToComputerEveryTime) {
  params.reset_comp = true;
  RunFor(33 * kMinute);
  EXPECT_TRUE(modem_resets.empty());
  EXPECT_EQ(pc_resets, (std::vector<int>{11, 21, 31}));
}

TEST_F(CheckerTest, NeitherFlagRaisesNoRequestButStillFailsAndClearsConnection) {
  RunFor(20 * kMinute);
  EXPECT_TRUE(modem_resets.empty() && pc_resets.empty());
  EXPECT_GT(log.Count("ping fail"), 10);
  EXPECT_EQ(flags.connection_losses.load(), static_cast<std::uint64_t>(log.Count("ping fail")))
      << "every failed cycle reports the connection lost";
}

// Thresholds that are always reached (a loop count of 0 or less, a negative
// modem-reset allowance) must never reset a machine whose checks pass:
// only failed cycles escalate, and then each one does.
TEST_F(CheckerTest, AlwaysReachedThresholdsEscalateOnlyAfterFailedCycles) {
  struct Case {
    std::int32_t loop_count, before_comp;
    bool modem, comp;
  };
  for (const Case c : {Case{0, 2, true, false}, Case{-3, 2, false, true}, Case{10, -1, true, true}}) {
    SCOPED_TRACE(testing::Message() << "loop count " << c.loop_count << ", before comp " << c.before_comp);
    log.Clear();
    modem_resets.clear();
    pc_resets.clear();
    flags.last_check_ok = true;
    params.check_fail_loop_count = c.loop_count;
    params.check_fail_loop_count_before_reset_comp = c.before_comp;
    params.reset_modem = c.modem;
    params.reset_comp = c.comp;
    probes.answering = {"10.9.9.9"};
    RunFor(3 * params.check_ok_period_s * 1000 + 1000);
    EXPECT_EQ(log.Count("ping ok"), 4);
    EXPECT_TRUE(modem_resets.empty());
    EXPECT_TRUE(pc_resets.empty());
  }
  // The same thresholds with failing checks escalate on every failed cycle.
  log.Clear();
  params.check_fail_loop_count = 0;
  params.reset_modem = true;
  params.reset_comp = false;
  probes.answering.clear();
  flags.last_check_ok = true;
  RunFor(params.check_ok_period_s * 1000 + 2 * params.check_fail_period_s * 1000 + 1000);
  EXPECT_EQ(log.Count("ping fail"), 4);
  EXPECT_EQ(modem_resets, (std::vector<int>{1, 2, 3, 4}));
}

// After a modem reset, failed cycles within the settle time are logged but
// not counted, so the modem is not reset again while it boots; then they
// count again. Without a settle time every failure counts (as before).
TEST_F(CheckerTest, SettleTimeKeepsFailuresUncountedThenCountsThemAgain) {
  params.reset_modem = true;
  params.check_fail_loop_count = 2;
  for (const auto& [settle_s, expected] :
       {std::pair{0, std::vector<int>{3, 5, 7, 9, 11}}, std::pair{150, std::vector<int>{3, 7, 11}}}) {
    SCOPED_TRACE(settle_s);
    log.Clear();
    modem_resets.clear();
    flags.last_check_ok = true;
    flags.reset_settle_until = kNoSettle;
    params.check_settle_after_reset_s = settle_s;
    RunFor(params.check_ok_period_s * 1000 + 9 * params.check_fail_period_s * 1000 + 5000);
    EXPECT_EQ(log.Count("ping fail"), 11) << "every failure is still logged";
    EXPECT_EQ(modem_resets, expected);
  }
}

// With dialling, every failed cycle clears the connection and the
// supervisor redials (stood in for here by its flag call after each sleep).
// Only the dial after the start and the one after a modem reset settle, so
// failing checks reach a modem reset within settle + (loop count + 1) x fail
// period of the window's start, and the computer reset follows, whatever the
// settle time.
TEST_F(CheckerTest, RedialsAfterFailedCyclesNeverHoldTheEscalationOff) {
  params.reset_modem = true;
  params.reset_comp = true;
  params.check_fail_period_s = 2;
  params.check_ok_period_s = 2;
  params.check_fail_loop_count = 2;
  params.check_fail_loop_count_before_reset_comp = 1;
  for (const std::int32_t settle_s : {0, 4, 30}) {
    SCOPED_TRACE(settle_s);
    log.Clear();
    modem_resets.clear();
    pc_resets.clear();
    flags.last_check_ok = true;
    flags.reset_settle_until = kNoSettle;
    flags.dial_settle_until = kNoSettle;
    ConnectionState connection(flags);  // the supervisor's side
    params.check_settle_after_reset_s = settle_s;
    const Tick start = clock.NowMs();
    std::vector<Tick> modem_at, pc_at;
    const Tick per_modem_reset_ms = (settle_s + (params.check_fail_loop_count + 1) * params.check_fail_period_s) * 1000;
    const Tick end = start + 3 * per_modem_reset_ms + 5000;
    TOSMonitorThread checker(CheckerContext{clock, log, params, flags, &control, probes, nullptr, history, events});
    clock.OnSleep([&](Tick now) {
      if (!connection.Up()) connection.Dialled(now, params.check_settle_after_reset_s);
      if (control.modem_reset_request.exchange(false)) modem_at.push_back(now - start);
      if (control.pc_reset_request.exchange(false)) pc_at.push_back(now - start);
      if (now >= end) checker.RequestTerminate();
    });
    checker.RunHere();
    clock.OnSleep(nullptr);
    ASSERT_GE(modem_at.size(), 2u) << log.Count("ping fail") << " failed cycles";
    EXPECT_LE(modem_at[0], per_modem_reset_ms + 1000);
    EXPECT_LE(modem_at[1] - modem_at[0], per_modem_reset_ms + 1000);
    ASSERT_FALSE(pc_at.empty());
    EXPECT_EQ(pc_at[0], modem_at[1]) << "the second modem reset brings the computer reset";
  }
}

// A failure inside a settle window is not counted, and so does not start
// the count either: the first counted failure after a pass counts 0 even
// when settled failures came before it, and a count from before the pass is
// never carried on. Each pattern: P passes, F fails counted, S fails inside
// a settle window; loop count 2, so the third counted failure in a row
// resets the modem. The outlook after the settled cycle says the same.
TEST_F(CheckerTest, SettledFailuresNeitherStartNorCarryTheCount) {
  params.reset_modem = true;
  params.check_fail_loop_count = 2;
  params.check_ok_period_s = params.check_fail_period_s = 1;
  struct Case {
    std::string pattern;
    std::vector<int> modem_resets;
    int settled_cycle;  // 0: none
  };
  const Case cases[] = {
      {"FFPFFFP", {6}, 0},
      {"PSFFFP", {5}, 2},
      {"FFPSFFFP", {7}, 4},
      {"FPSSFFF", {7}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    log.Clear();
    modem_resets.clear();
    flags.last_check_ok = true;
    flags.reset_settle_until = kNoSettle;
    metrics::Metrics m;
    metrics = &m;
    std::size_t probed = 0;
    probes.decide = [&](const test::FakeProbes::Call&) {
      const char outcome = probed < c.pattern.size() ? c.pattern[probed] : 'P';
      ++probed;
      // The window covers this cycle's end only.
      flags.reset_settle_until = outcome == 'S' ? clock.NowMs() + 1 : kNoSettle;
      return outcome == 'P';
    };
    std::map<int, std::int32_t> modem_left;  // after each cycle
    after_sleep = [&] { modem_left.try_emplace(Cycles(), m.modem_reset_in_cycles.load()); };
    RunFor(static_cast<Tick>(c.pattern.size()) * 1000 + 500);
    after_sleep = nullptr;
    ASSERT_GE(Cycles(), static_cast<int>(c.pattern.size()));
    EXPECT_EQ(modem_resets, c.modem_resets);
    if (c.settled_cycle > 0) {
      EXPECT_EQ(modem_left[c.settled_cycle], 3) << "three counted failures still to come";
    }
  }
}

// Without modem resets and with a negative allowance before the computer
// reset, each failed cycle asks for one computer reset, recorded once: a
// second request in the same cycle would count twice against the day's
// allowance and log a suppression beside the reset it suppressed.
TEST_F(CheckerTest, OneComputerResetPerCycleAtMost) {
  platform::MemoryRegistry state_registry;
  auto state = platform::RegistryStateStore(state_registry);
  ResetHistory record(*state, [] { return std::int64_t{1'800'000'000}; });
  history = &record;
  params.reset_modem = false;
  params.reset_comp = true;
  params.check_fail_loop_count = 0;
  params.check_fail_loop_count_before_reset_comp = -1;
  params.reset_comp_max_per_day = 2;
  RunFor(params.check_ok_period_s * 1000 + 3 * params.check_fail_period_s * 1000 + 5000);
  EXPECT_EQ(pc_resets, (std::vector<int>{1, 2}));
  EXPECT_EQ(record.CountLastDay(), 2);
  ASSERT_GE(Cycles(), 4);
  EXPECT_EQ(log.Count("reset pc suppressed (2 in 24 h)"), Cycles() - 2) << "once in each later cycle";
}

// The reboot-loop guard: computer resets beyond the day's allowance are not
// sent, also across a restart (the reset ends the run that counted it);
// modem resets go on. Every reset that goes out is recorded with its reason
// before it is requested.
TEST_F(CheckerTest, RebootLoopGuardSuppressesResetsBeyondTheDaysAllowance) {
  platform::MemoryRegistry state_registry;
  auto state = platform::RegistryStateStore(state_registry);
  std::int64_t wall = 1'800'000'000;
  ResetHistory record(*state, [&] { return wall; });
  history = &record;
  params.reset_modem = true;
  params.reset_comp = true;
  params.check_fail_loop_count = 1;
  params.check_fail_loop_count_before_reset_comp = 0;  // every modem reset brings a computer reset
  params.reset_comp_max_per_day = 1;
  RunFor(params.check_ok_period_s * 1000 + 4 * params.check_fail_period_s * 1000 + 5000);
  EXPECT_EQ(modem_resets, (std::vector<int>{2, 3, 4, 5, 6})) << "modem resets go on";
  EXPECT_EQ(pc_resets, (std::vector<int>{2}));
  EXPECT_EQ(log.Count("reset pc suppressed (1 in 24 h)"), 4);
  const auto last = ResetHistory(*state, [&] { return wall; }).TakeUnreported();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->reason, "2 failed cycles in a row, 1 modem resets");

  // The next run (after the reset) still counts it, until a day has passed.
  log.Clear();
  modem_resets.clear();
  pc_resets.clear();
  flags.last_check_ok = true;
  RunFor(params.check_ok_period_s * 1000 + 2 * params.check_fail_period_s * 1000 + 5000);
  EXPECT_TRUE(pc_resets.empty());
  EXPECT_EQ(log.Count("reset pc suppressed (1 in 24 h)"), 3);
  wall += 24 * 3600;
  log.Clear();
  flags.last_check_ok = true;
  RunFor(params.check_ok_period_s * 1000 + 2 * params.check_fail_period_s * 1000 + 5000);
  EXPECT_EQ(pc_resets.size(), 1u) << "a day later one is allowed again";
  EXPECT_EQ(log.Count("reset pc suppressed (1 in 24 h)"), 2);
}

// A record of a computer reset that cannot be stored for good is told in
// the log, as an event and in the metrics, and the reset goes out all the
// same; every value is tried, before the request reaches the control thread.
TEST_F(CheckerTest, AResetRecordThatCannotBeStoredIsLoggedReportedAndCounted) {
  test::FailingStateStore state;
  state.failure = "cannot sync /var/lib/qov_lumo/.state-00ff: Input/output error";
  state.probe = [this] { return std::string(control.pc_reset_request ? "requested" : ""); };
  ResetHistory record(state, [] { return std::int64_t{1'800'000'000}; });
  history = &record;
  test::RecordingEvents recorded;
  events = &recorded;
  metrics::Metrics counted;
  metrics = &counted;
  params.reset_modem = false;
  params.reset_comp = true;
  params.check_fail_loop_count = 1;
  RunFor(params.check_ok_period_s * 1000 + 2 * params.check_fail_period_s * 1000 + 5000);
  ASSERT_FALSE(pc_resets.empty()) << "the reset is sent without its record";
  const std::string reason = "reset_comp_times: " + state.failure;
  EXPECT_EQ(log.Count("reset history write fail: " + reason), static_cast<long>(pc_resets.size()));
  std::size_t reported = 0;
  for (const auto& e : recorded.Entries()) {
    if (e.id == config::EventId::kResetRecordFailed) {
      ++reported;
      EXPECT_EQ(e.args, (std::vector<std::string>{reason}));
    }
  }
  EXPECT_EQ(reported, pc_resets.size());
  EXPECT_EQ(counted.state_write_failures.load(), pc_resets.size());
  std::set<std::string> names;
  for (const auto& w : state.writes) {
    names.insert(w.name);
    EXPECT_EQ(w.probed, "") << w.name << " written after the request";
  }
  EXPECT_EQ(names, (std::set<std::string>{"reset_comp_times", "last_reset_time", "last_reset_reason",
                                          "last_reset_reported"}));

  // Stored again: nothing more is told.
  state.failure.clear();
  log.Clear();
  pc_resets.clear();
  flags.last_check_ok = true;
  RunFor(params.check_ok_period_s * 1000 + 2 * params.check_fail_period_s * 1000 + 5000);
  EXPECT_FALSE(pc_resets.empty());
  EXPECT_EQ(log.Count("reset history write fail: " + reason), 0);
  EXPECT_EQ(counted.state_write_failures.load(), reported);
}

// The events follow the escalation: failing checks once per run of failures,
// each reset request (reported before the request reaches the control
// thread, since a computer reset ends the run), a suppressed one, and the
// checks passing again.
TEST_F(CheckerTest, EventsFollowTheEscalationAndAreReportedBeforeTheRequests) {
  platform::MemoryRegistry state_registry;
  auto state = platform::RegistryStateStore(state_registry);
  ResetHistory record(*state, [] { return std::int64_t{1'800'000'000}; });
  history = &record;
  test::RecordingEvents recorded;
  recorded.probe = [this] {
    return std::string(control.modem_reset_request ? "m" : "") + (control.pc_reset_request ? "p" : "");
  };
  events = &recorded;
  params.reset_modem = true;
  params.reset_comp = true;
  params.check_fail_loop_count = 1;
  params.check_fail_loop_count_before_reset_comp = 0;
  params.reset_comp_max_per_day = 1;
  probes.decide = [this](const test::FakeProbes::Call&) { return probes.calls.size() > 3; };
  RunFor(5 * params.check_fail_period_s * 1000 + 5000);
  EXPECT_EQ(log.Count("ping fail"), 3);
  EXPECT_EQ(recorded.Texts(), (std::vector<std::string>{
                                  "1200 1",
                                  "1300 2 failed cycles in a row, 0 modem resets",
                                  "1301 2 failed cycles in a row, 1 modem resets",
                                  "1300 3 failed cycles in a row, 1 modem resets",
                                  "1302 1",
                                  "1201 3",
                              }));
  // The requests raised so far in the cycle: a reset is reported before its own.
  std::vector<std::string> probed;
  for (const auto& e : recorded.Entries()) probed.push_back(e.probed);
  EXPECT_EQ(probed, (std::vector<std::string>{"", "", "m", "", "m", ""}));
}

// The echo time-out is computed in 64 bits and bounded, so a negative or
// huge stored value cannot stall the cycle for weeks.
TEST(EchoTimeoutTest, SecondsAreBoundedToOneHour) {
  struct Case {
    std::int32_t seconds;
    std::uint32_t ms;
  };
  for (const Case c : {Case{20, 20000}, Case{1, 1000}, Case{0, 1000}, Case{-1, 1000}, Case{INT32_MIN, 1000},
                       Case{3600, 3600000}, Case{3601, 3600000}, Case{INT32_MAX, 3600000}}) {
    EXPECT_EQ(EchoTimeoutMs(c.seconds), c.ms) << c.seconds;
  }
}

// A stop that comes while an address is probed ends the cycle there: the
// next address is not probed, and the cut-short cycle is neither logged nor
// counted, nor followed by the program-control step, so it can raise no reset.
TEST_F(CheckerTest, StopDuringAProbeEndsTheCycleUnloggedAndSkipsTheRest) {
  params.check_addr_count = 2;
  params.check_addr[1] = "ICMP - second.example";
  params.check_fail_loop_count = 0;
  params.reset_modem = true;
  TOSMonitorThread checker(CheckerContext{clock, log, params, flags, &control, probes,
                                          [this](const std::atomic<bool>&) { program_steps.push_back(clock.NowMs()); }});
  probes.decide = [&](const test::FakeProbes::Call&) {
    checker.RequestTerminate();
    return false;
  };
  checker.RunHere();
  ASSERT_EQ(probes.calls.size(), 1u);
  EXPECT_EQ(probes.calls[0].target, "10.9.9.9");
  EXPECT_TRUE(log.Texts().empty());
  EXPECT_TRUE(program_steps.empty());
  EXPECT_FALSE(control.modem_reset_request);
  EXPECT_TRUE(flags.last_check_ok);
}

// With check_log_details a failed cycle names each address it tried, in
// order, before "ping fail"; a passing cycle and the flag off add nothing.
TEST_F(CheckerTest, DetailsFlagLogsTheReasonOfEachFailedAddressBeforePingFail) {
  params.check_addr_count = 3;
  params.check_addr[0] = "HTTP - 127.0.0.1:8080/x";
  params.check_addr[1] = "ICMP - 10.9.9.9";
  params.check_addr[2] = "HTTP - 127.0.0.1:9/ok";
  probes.reasons = {{"127.0.0.1:8080/x", "connection refused"},
                    {"10.9.9.9", "timed out after 2 s"},
                    {"127.0.0.1:9/ok", "status 503"}};
  const std::vector<std::string> all_fail_detailed = {"check 0 HTTP 127.0.0.1:8080/x: connection refused",
                                                      "check 1 ICMP 10.9.9.9: timed out after 2 s",
                                                      "check 2 HTTP 127.0.0.1:9/ok: status 503", "ping fail"};
  struct Case {
    const char* name;
    bool details;
    std::set<std::string> answering;
    std::vector<std::string> expected;
  };
  for (const Case& c : {Case{"all fail, flag on", true, {}, all_fail_detailed},
                        Case{"all fail, flag off", false, {}, {"ping fail"}},
                        Case{"last answers, flag on", true, {"127.0.0.1:9/ok"}, {"ping ok"}}}) {
    SCOPED_TRACE(c.name);
    log.Clear();
    params.check_log_details = c.details;
    probes.answering = c.answering;
    RunFor(1000);
    EXPECT_EQ(log.Texts(), c.expected);
  }
}

TEST_F(CheckerTest, DetailsFlagLogsNothingForACycleCutShortByTheStop) {
  params.check_log_details = true;
  params.check_addr_count = 2;
  params.check_addr[1] = "ICMP - second.example";
  TOSMonitorThread checker(CheckerContext{clock, log, params, flags, &control, probes, nullptr});
  probes.decide = [&](const test::FakeProbes::Call& call) {
    if (call.target == "second.example") checker.RequestTerminate();
    return false;
  };
  checker.RunHere();
  EXPECT_EQ(probes.calls.size(), 2u);
  EXPECT_TRUE(log.Texts().empty());
}

TEST_F(CheckerTest, NoAddressesProbeNothingButProgramControlRuns) {
  params.check_addr_count = 0;
  params.check_fail_loop_count = 0;
  params.reset_modem = true;
  RunFor(5 * kMinute);
  EXPECT_TRUE(probes.calls.empty());
  EXPECT_TRUE(log.Texts().empty());
  EXPECT_TRUE(modem_resets.empty());
  EXPECT_EQ(program_steps.size(), 5u);
}

TEST_F(CheckerTest, ProbesInOrderUntilFirstSuccess) {
  params.check_addr_count = 4;
  params.check_addr[0] = "icmp - lower.example";
  params.check_addr[1] = "HTTP - 127.0.0.1/health";
  params.check_addr[2] = "192.0.2.1";
  params.check_addr[3] = "ICMP - never.asked";
  params.check_wait_resp_s = 7;
  probes.answering = {"192.0.2.1"};
  RunFor(1000);
  ASSERT_EQ(probes.calls.size(), 3u);
  EXPECT_EQ(probes.calls[0].method, "ICMP");
  EXPECT_EQ(probes.calls[0].target, "icmp - lower.example");  // lower-case method word: a bare name
  EXPECT_EQ(probes.calls[0].timeout_ms, 7000u);
  EXPECT_EQ(probes.calls[1].method, "HTTP");
  EXPECT_EQ(probes.calls[1].target, "127.0.0.1/health");
  EXPECT_EQ(probes.calls[2].target, "192.0.2.1");
  EXPECT_EQ(log.Texts(), (std::vector<std::string>{"ping ok"}));
  EXPECT_TRUE(flags.last_check_ok);
}

TEST_F(CheckerTest, PeriodFollowsPreviousOutcome) {
  // Up for the first two cycles, then down.
  probes.decide = [&](const test::FakeProbes::Call&) { return clock.NowMs() < 200'000; };
  RunFor(700'000);
  const auto ok = TimesOf("ping ok");
  const auto fail = TimesOf("ping fail");
  ASSERT_EQ(ok.size(), 2u);
  EXPECT_EQ(ok[1] - ok[0], 180'000);  // at the deadline, to the millisecond
  ASSERT_EQ(fail.size(), 4u);
  EXPECT_EQ(fail[0] - ok[1], 180'000);
  EXPECT_EQ(fail[1] - fail[0], 180'000);  // the first failed cycle still ran after a success
  EXPECT_EQ(fail[2] - fail[1], 60'000);
}

TEST_F(CheckerTest, ZeroFailPeriodRetriesAfterAShortPause) {
  params.check_fail_period_s = 0;
  RunFor(180'000 + 400);
  const auto fail = TimesOf("ping fail");
  ASSERT_EQ(fail.size(), 5u);
  EXPECT_EQ(fail[1] - fail[0], 180'000);
  EXPECT_EQ(fail[2] - fail[1], 100);
  EXPECT_EQ(fail[3] - fail[2], 100);
}

TEST_F(CheckerTest, SuccessDoesNotResetFailCounterButNextFailureDoes) {
  params.reset_modem = true;
  int cycle = 0;
  // Nine failures, one success, then failures again.
  probes.decide = [&](const test::FakeProbes::Call&) { return ++cycle == 10; };
  params.check_fail_period_s = 1;
  params.check_ok_period_s = 1;
  RunFor(30'000);
  // Failure 11 after the success (cycle 21) is the first escalation.
  ASSERT_FALSE(modem_resets.empty());
  EXPECT_EQ(modem_resets[0], 21);
}

// After every cycle the checker publishes how many failed cycles remain
// before each reset: when that many fail in a row, the reset comes in
// exactly the last of them, never sooner.
TEST_F(CheckerTest, PublishedCyclesLeftAreWhenTheResetsCome) {
  struct Case {
    bool modem, comp;
    std::int32_t loop, before_comp;
  };
  const Case cases[] = {
      {true, false, 10, 2}, {true, true, 3, 2}, {false, true, 4, 2},
      {true, true, 0, 0},   {true, true, 2, -1}, {false, false, 3, 2},
  };
  // Cycles 10 and 25 pass, all others fail.
  const auto passes = [](int cycle) { return cycle == 10 || cycle == 25; };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "modem " << c.modem << " comp " << c.comp << " loop " << c.loop
                                      << " before_comp " << c.before_comp);
    params.reset_modem = c.modem;
    params.reset_comp = c.comp;
    params.check_fail_loop_count = c.loop;
    params.check_fail_loop_count_before_reset_comp = c.before_comp;
    params.check_ok_period_s = params.check_fail_period_s = 1;
    flags.last_check_ok = true;
    log.Clear();
    modem_resets.clear();
    pc_resets.clear();
    metrics::Metrics m;
    metrics = &m;
    int probed = 0;
    probes.decide = [&](const test::FakeProbes::Call&) { return passes(++probed); };
    // Cycle number -> cycles left, as published after it (0: at the start).
    std::map<int, std::pair<std::int32_t, std::int32_t>> published;
    after_sleep = [&] {
      published.try_emplace(Cycles(), m.modem_reset_in_cycles.load(), m.computer_reset_in_cycles.load());
    };
    RunFor(40'000);
    after_sleep = nullptr;
    const int last = Cycles();
    ASSERT_GE(last, 35);
    const auto check = [&](int after, std::int32_t left, const std::vector<int>& resets, bool enabled,
                           const char* what) {
      const auto next = std::upper_bound(resets.begin(), resets.end(), after);
      if (!enabled) {
        EXPECT_EQ(left, metrics::Metrics::kNoReset) << what << " after cycle " << after;
        EXPECT_TRUE(resets.empty()) << what;
        return;
      }
      ASSERT_GE(left, 1) << what << " after cycle " << after;
      const int due = after + left;
      bool all_fail = due <= last;
      for (int k = after + 1; k <= due && all_fail; ++k) all_fail = !passes(k);
      if (!all_fail) return;  // a pass in between starts the count again
      ASSERT_NE(next, resets.end()) << what << " after cycle " << after << " due at " << due;
      EXPECT_EQ(*next, due) << what << " after cycle " << after;
    };
    for (const auto& [after, left] : published) {
      check(after, left.first, modem_resets, c.modem, "modem");
      check(after, left.second, pc_resets, c.comp, "computer");
    }
    ASSERT_FALSE(published.empty());
    EXPECT_GE(published.size(), static_cast<std::size_t>(last)) << "published after every cycle";
  }
}

// The status record follows the checks without a rewrite for every passing
// cycle: its writer is woken only when what the record says changes.
TEST_F(CheckerTest, TheStatusWriterIsWokenOnlyWhenTheOutlookChanges) {
  params.check_ok_period_s = params.check_fail_period_s = 1;
  metrics::Metrics m;
  metrics = &m;
  platform::WakeEvent wake;
  m.status_listener = &wake;
  int probed = 0;
  probes.decide = [&](const test::FakeProbes::Call&) {
    ++probed;
    return probed <= 5 || probed > 8;  // 5 pass, 3 fail, then all pass
  };
  std::vector<int> woken_after;  // cycles done when the wake was seen
  after_sleep = [&] {
    if (wake.TryTake()) woken_after.push_back(Cycles());
  };
  RunFor(15'000);
  after_sleep = nullptr;
  ASSERT_GE(Cycles(), 14);
  EXPECT_EQ(woken_after, (std::vector<int>{1, 6, 7, 8, 9})) << "the first check, each failure, the pass after them";
}

TEST_F(CheckerTest, EscalationWithoutControlThreadIsHarmless) {
  with_control = false;
  params.check_fail_loop_count = 0;
  params.reset_modem = params.reset_comp = true;
  RunFor(5 * kMinute);
  EXPECT_EQ(Cycles(), 3);
}

TEST_F(CheckerTest, ProgramControlRunsAtStartAndOnItsOwnPeriod) {
  params.program_ctrl_check_period_s = 45;
  const Tick start = clock.NowMs();
  RunFor(100'000);
  ASSERT_EQ(program_steps.size(), 3u);
  EXPECT_EQ(program_steps[0], start);
  EXPECT_EQ(program_steps[1] - program_steps[0], 45'000);
}

}  // namespace
}  // namespace qov::supervision
