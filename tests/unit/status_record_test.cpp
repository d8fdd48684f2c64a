// The status record: what it holds, how -STATUS judges it, its text, and
// when the supervisor's writer rewrites it.
#include "metrics/status_record.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "metrics/status_writer.h"
#include "platform/memory_registry.h"
#include "platform/state_store.h"
#include "service/status_query.h"
#include "support/fake_clock.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"

namespace qov::metrics {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;
constexpr std::uint32_t kPid = 4242;

// "T<seconds after kNow>", so that texts do not depend on the locale.
std::string TimeOf(std::int64_t utc_s) { return "T" + std::to_string(utc_s - kNow); }

StatusRecord Healthy() {
  StatusRecord r;
  r.running = true;
  r.pid = kPid;
  r.written_s = kNow - 2;
  r.started_s = kNow - 600;
  r.port = "COM3";
  r.board_running = true;
  r.last_ack_s = kNow - 1;
  r.check_ok = true;
  r.last_check_s = kNow - 4;
  r.next_check_s = kNow + 56;
  r.modem_reset_in = 11;
  r.computer_reset_in = 31;
  r.resets_max_per_day = 3;
  return r;
}

TEST(StatusVerdictTest, ExitCodeAndSummaryFollowTheRecordAndItsWriter) {
  struct Case {
    const char* name;
    std::optional<StatusRecord> record;
    bool writer_runs;
    int exit_code;
    std::string summary;
  };
  StatusRecord board_down = Healthy();
  board_down.board_running = false;
  StatusRecord failing = Healthy();
  failing.check_ok = false;
  failing.failed_in_row = 3;
  failing.modem_reset_in = 8;
  StatusRecord comp_only = failing;
  comp_only.modem_reset_in = Metrics::kNoReset;
  comp_only.computer_reset_in = 1;
  StatusRecord no_resets = failing;
  no_resets.modem_reset_in = no_resets.computer_reset_in = Metrics::kNoReset;
  StatusRecord no_check = Healthy();
  no_check.check_ok = false;
  no_check.last_check_s = 0;
  StatusRecord stale = Healthy();
  stale.written_s = kNow - kStatusStaleSeconds - 1;
  StatusRecord fresh_enough = Healthy();
  fresh_enough.written_s = kNow - kStatusStaleSeconds;
  StatusRecord stopped = Healthy();
  stopped.running = false;
  stopped.written_s = kNow - 100;
  const std::string since = "QOV Lumo service: running since T-600; ";
  const Case cases[] = {
      {"healthy", Healthy(), true, kStatusHealthy, since + "board running; checks passing"},
      {"no cycle yet", no_check, true, kStatusHealthy, since + "board running; no check yet"},
      {"board down", board_down, true, kStatusDegraded, since + "board not running; checks passing"},
      {"checks failing", failing, true, kStatusDegraded,
       since + "board running; checks failing (3 cycles), modem reset in 8 cycles"},
      {"computer reset only", comp_only, true, kStatusDegraded,
       since + "board running; checks failing (3 cycles), computer reset in 1 cycle"},
      {"resets disabled", no_resets, true, kStatusDegraded,
       since + "board running; checks failing (3 cycles), resets disabled"},
      {"written just in time", fresh_enough, true, kStatusHealthy, since + "board running; checks passing"},
      {"stale record", stale, true, kStatusNotRunning,
       "QOV Lumo service: not running (status record not refreshed for " + std::to_string(kStatusStaleSeconds + 1) +
           " s)"},
      {"writer died", Healthy(), false, kStatusNotRunning,
       "QOV Lumo service: not running (the process 4242 that wrote the status record has ended)"},
      {"no record", std::nullopt, false, kStatusNotRunning, "QOV Lumo service: not running (no status record)"},
      {"stopped", stopped, false, kStatusNotRunning, "QOV Lumo service: not running (stopped at T-100)"},
  };
  for (const Case& c : cases) {
    const auto runs = [&c](std::uint32_t pid) { return c.writer_runs && pid == kPid; };
    const StatusVerdict v = JudgeStatus(c.record, kNow, runs, TimeOf);
    EXPECT_EQ(v.exit_code, c.exit_code) << c.name;
    EXPECT_EQ(v.summary, c.summary) << c.name;
  }
}

TEST(StatusTextTest, OneLinePerFactWithAgesInSeconds) {
  StatusRecord r = Healthy();
  r.check_ok = false;
  r.failed_in_row = 3;
  r.modem_reset_in = 8;
  r.computer_reset_in = Metrics::kNoReset;
  r.settle_until_s = kNow + 30;
  r.resets_last_day = 1;
  r.last_reset_s = kNow - 7200;
  r.last_reset_reason = "22 failed cycles in a row, 2 modem resets";
  const StatusVerdict v = JudgeStatus(r, kNow, [](std::uint32_t) { return true; }, TimeOf);
  EXPECT_EQ(StatusText(r, v, kNow, TimeOf),
            "QOV Lumo service: running since T-600; board running; checks failing (3 cycles), modem reset in 8 cycles\n"
            "Service: running since T-600 (600 s ago), process 4242, record written 2 s ago\n"
            "Board: port COM3, running, last acknowledgement T-1 (1 s ago)\n"
            "Checks: last cycle failed T-4 (4 s ago), 3 cycles failed in a row, next cycle due T56 (in 56 s)\n"
            "Escalation: modem reset in 8 cycles, computer reset disabled, settle window open until T30 (in 30 s)\n"
            "Computer resets in the last 24 h: 1 of 3 allowed\n"
            "Last computer reset: T-7200 (22 failed cycles in a row, 2 modem resets)\n");

  StatusRecord fresh = Healthy();
  fresh.last_ack_s = fresh.last_check_s = fresh.next_check_s = 0;
  fresh.modem_reset_in = fresh.computer_reset_in = Metrics::kNoReset;
  fresh.resets_max_per_day = 0;
  const std::string text = StatusText(fresh, JudgeStatus(fresh, kNow, [](std::uint32_t) { return true; }, TimeOf),
                                      kNow, TimeOf);
  EXPECT_NE(text.find("last acknowledgement none yet\nChecks: no cycle yet\nEscalation: resets disabled\n"
                      "Computer resets in the last 24 h: 0 (no daily limit)\nLast computer reset: none recorded\n"),
            std::string::npos)
      << text;

  StatusRecord limited = Healthy();
  limited.resets_last_day = limited.resets_max_per_day = 3;
  const std::string held = StatusText(
      limited, JudgeStatus(limited, kNow, [](std::uint32_t) { return true; }, TimeOf), kNow, TimeOf);
  EXPECT_NE(held.find("\nEscalation: modem reset in 11 cycles, computer reset in 31 cycles (held back: the daily "
                      "limit is reached)\nComputer resets in the last 24 h: 3 of 3 allowed\n"),
            std::string::npos)
      << held;

  // Not running: the reason alone.
  const StatusVerdict gone = JudgeStatus(r, kNow, [](std::uint32_t) { return false; }, TimeOf);
  EXPECT_EQ(StatusText(r, gone, kNow, TimeOf), gone.summary + "\n");
}

TEST(StatusRecordTest, RoundTripsThroughItsTextOnOneLinePerValue) {
  StatusRecord r = Healthy();
  r.settle_until_s = kNow + 5;
  r.resets_last_day = 2;
  r.last_reset_s = kNow - 50;
  r.last_reset_reason = "line\nbreak";
  const std::string text = SerializeStatus(r);
  const auto back = ParseStatus(text);
  ASSERT_TRUE(back);
  r.last_reset_reason = "line break";
  EXPECT_EQ(*back, r);
  EXPECT_NE(text.find("\nlast_reset_reason=line break\n"), std::string::npos) << text;

  EXPECT_FALSE(ParseStatus(""));
  EXPECT_FALSE(ParseStatus("garbage"));
  EXPECT_FALSE(ParseStatus("state=running\n")) << "no process named";
}

// The record's facts come from the metrics, on the wall clock of the moment.
TEST(StatusRecordTest, MetricsTicksBecomeWallTimes) {
  Metrics m;
  const platform::Tick now = 90'000;
  m.start_time_s = kNow - 600;
  m.device_running = true;
  m.last_ack_tick = now - 1'500;
  RecordCheckCycle(&m, false, 3, now - 4'000);
  m.next_check_tick = now + 55'100;
  m.modem_reset_in_cycles = 8;
  m.computer_reset_in_cycles = 28;
  const StatusRecord r = StatusFromSnapshot(TakeSnapshot(m, now, kNow, true));
  EXPECT_TRUE(r.running);
  EXPECT_EQ(r.started_s, kNow - 600);
  EXPECT_TRUE(r.board_running);
  EXPECT_EQ(r.last_ack_s, kNow - 2);  // 1.5 s ago, in whole seconds
  EXPECT_FALSE(r.check_ok);
  EXPECT_EQ(r.last_check_s, kNow - 4);
  EXPECT_EQ(r.failed_in_row, 3);
  EXPECT_EQ(r.next_check_s, kNow + 56) << "not shown due before it is";
  EXPECT_EQ(r.modem_reset_in, 8);
  EXPECT_EQ(r.computer_reset_in, 28);

  const StatusRecord none = StatusFromSnapshot(TakeSnapshot(Metrics{}, now, kNow, true));
  EXPECT_EQ(none.last_ack_s, 0);
  EXPECT_EQ(none.last_check_s, 0);
  EXPECT_EQ(none.next_check_s, 0);
  EXPECT_EQ(none.modem_reset_in, Metrics::kNoReset);
}

class StatusWriterTest : public ::testing::Test {
 protected:
  StatusWriter Make() {
    return StatusWriter([this](platform::Tick) { return record; },
                        [this](const std::string& text) -> std::optional<std::string> {
                          written.push_back({clock.NowMs(), text});
                          return failure;
                        },
                        [this](const std::string& line) { announced.push_back(line); }, log, TimeOf);
  }

  test::FakeClock clock{10'000};
  test::RecordingLog log;
  StatusRecord record = Healthy();
  std::optional<std::string> failure;
  std::vector<std::pair<platform::Tick, std::string>> written;
  std::vector<std::string> announced;
};

// Written at once, again when a fact changes, and every refresh period
// otherwise; each new first line goes to the host once.
TEST_F(StatusWriterTest, WritesOnChangeAndEveryRefreshPeriod) {
  StatusWriter w = Make();
  const auto at = [&](platform::Tick t) {
    clock.Set(t);
    return w.WriteIfDue(t);
  };
  EXPECT_EQ(at(10'000), 10'000 + kStatusRefreshMs);
  record.last_ack_s += 1;  // moves on all the time: waits for the refresh
  EXPECT_EQ(at(11'000), 10'000 + kStatusRefreshMs);
  record.check_ok = false;
  record.failed_in_row = 1;
  EXPECT_EQ(at(12'000), 12'000 + kStatusRefreshMs);
  at(13'000);
  at(12'000 + kStatusRefreshMs);
  record.resets_last_day = 1;  // not in the first line, written all the same
  at(12'000 + kStatusRefreshMs + 1);
  const platform::Tick stop_at = 12'000 + kStatusRefreshMs + 3'000;
  clock.Set(stop_at);
  w.WriteStopped(stop_at);

  std::vector<platform::Tick> times;
  for (const auto& [at, text] : written) times.push_back(at);
  ASSERT_EQ(times, (std::vector<platform::Tick>{10'000, 12'000, 12'000 + kStatusRefreshMs,
                                                12'000 + kStatusRefreshMs + 1, stop_at}));
  EXPECT_EQ(ParseStatus(written[0].second)->failed_in_row, 0);
  EXPECT_EQ(ParseStatus(written[1].second)->failed_in_row, 1);
  EXPECT_TRUE(ParseStatus(written[3].second)->running);
  EXPECT_EQ(ParseStatus(written[3].second)->resets_last_day, 1);
  EXPECT_FALSE(ParseStatus(written[4].second)->running);
  EXPECT_EQ(announced, (std::vector<std::string>{
                           "QOV Lumo service: running since T-600; board running; checks passing",
                           "QOV Lumo service: running since T-600; board running; checks failing (1 cycle), "
                           "modem reset in 11 cycles",
                           "QOV Lumo service: stopped",
                       }));
}

TEST_F(StatusWriterTest, AFailedWriteIsLoggedOnceAndTriedAgain) {
  StatusWriter w = Make();
  failure = "cannot write the value Status";
  w.WriteIfDue(10'000);
  w.WriteIfDue(10'000 + kStatusRefreshMs);
  failure.reset();
  w.WriteIfDue(10'000 + 2 * kStatusRefreshMs);
  EXPECT_EQ(written.size(), 3u);
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"status record write fail: cannot write the value Status"});
}

// -STATUS reads what the service published through the same store.
TEST(StatusQueryTest, PrintsTheTextAndGivesTheVerdictsExitCode) {
  platform::MemoryRegistry registry;
  const auto store = platform::RegistryStateStore(registry);
  test::TempDir dir;
  const service::StatusQueryFacts facts{kNow, [](std::uint32_t pid) { return pid == kPid; }, TimeOf};
  const auto query = [&](std::string& shown) {
    const std::string path = dir.File("out.txt");
    std::FILE* out = std::fopen(path.c_str(), "w+b");
    const int code = service::RunStatusQuery(*store, out, facts);
    std::rewind(out);
    char buffer[2048] = {};
    shown.assign(buffer, std::fread(buffer, 1, sizeof buffer - 1, out));
    std::fclose(out);
    return code;
  };
  std::string shown;
  EXPECT_EQ(query(shown), kStatusNotRunning);
  EXPECT_EQ(shown, "QOV Lumo service: not running (no status record)\n");
  StatusRecord r = Healthy();
  r.board_running = false;
  ASSERT_FALSE(store->PublishStatus(SerializeStatus(r)));
  EXPECT_EQ(query(shown), kStatusDegraded);
  EXPECT_EQ(shown.substr(0, shown.find('\n')),
            "QOV Lumo service: running since T-600; board not running; checks passing");
  EXPECT_NE(shown.find("\nBoard: port COM3, not running,"), std::string::npos) << shown;
}

}  // namespace
}  // namespace qov::metrics
