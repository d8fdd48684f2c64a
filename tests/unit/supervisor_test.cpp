#include "supervision/supervisor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/memory_registry.h"
#include "support/fake_clock.h"
#include "support/fake_run_reports.h"
#include "support/fake_workers.h"
#include "support/temp_dir.h"

namespace qov::supervision {
namespace {

using config::kConfigKey;

// One logged line: the fake time it was written at and its message.
struct Line {
  platform::Tick at;
  std::string text;
};

class Dialler final : public platform::ChildProcess {
 public:
  explicit Dialler(std::shared_ptr<std::atomic<bool>> running) : running_(std::move(running)) {}
  bool Running() override { return running_->load(); }

 private:
  std::shared_ptr<std::atomic<bool>> running_;
};

class SupervisorTest : public ::testing::Test {
 protected:
  SupervisorTest() {
    reg_.SetString(kConfigKey, "log_file_path", dir_.File("qov_log.txt"));
    host_.start_process = [this](const std::string& cmd) -> std::unique_ptr<platform::ChildProcess> {
      dials_.push_back({clock_.NowMs(), cmd});
      if (!dial_ok_) return nullptr;
      return std::make_unique<Dialler>(dialler_running_);
    };
  }

  // Runs the body on this thread until the fake time passes `until`.
  void RunUntil(platform::Tick until) {
    TSupervisorThread sup(SupervisorContext{clock_, reg_, log_, params_, flags_, workers_, reports_, host_});
    running_ = &sup;
    clock_.OnSleep([&](platform::Tick now) {
      if (now >= until) sup.RequestTerminate();
      if (on_sleep_) on_sleep_(now);
    });
    sup.RunHere();
    running_ = nullptr;
    end_ = clock_.NowMs();
  }

  std::vector<Line> Lines() {
    std::ifstream in(dir_.File("qov_log.txt"), std::ios::binary);
    std::vector<Line> lines;
    for (std::string l; std::getline(in, l);) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      const auto sep = l.find(" - ");
      lines.push_back({std::stoll(l.substr(0, sep)), l.substr(sep + 3)});
    }
    return lines;
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> t;
    for (auto& l : Lines()) t.push_back(l.text);
    return t;
  }
  long Count(const std::string& text) {
    long n = 0;
    for (auto& l : Lines()) n += l.text == text;
    return n;
  }

  void Dword(const std::string& name, std::uint32_t v) { reg_.SetDword(kConfigKey, name, v); }
  void Text(const std::string& name, const std::string& v) { reg_.SetString(kConfigKey, name, v); }

  test::FakeClock clock_{5000};
  platform::MemoryRegistry reg_;
  test::TempDir dir_;
  config::LogWriter log_{[this] { return std::to_string(clock_.NowMs()); }};
  config::TParamRec params_;
  RunFlags flags_;
  test::FakeRunReports reports_;
  test::FakeHostActions host_;
  test::FakeWorkers workers_{clock_};
  std::function<void(platform::Tick)> on_sleep_;
  bool dial_ok_ = true;
  // A started "rasdial" runs while this is set.
  std::shared_ptr<std::atomic<bool>> dialler_running_ = std::make_shared<std::atomic<bool>>(false);
  TSupervisorThread* running_ = nullptr;  // while RunUntil runs
  std::vector<std::pair<platform::Tick, std::string>> dials_;
  std::vector<platform::Tick>& checker_starts_ = workers_.checker_starts;
  platform::Tick end_ = 0;
};

TEST_F(SupervisorTest, StartUpDelayThenCheckerOnTheNextPass) {
  Dword("wait_time_after_start_s", 59);
  RunUntil(5000 + 61000);
  const auto lines = Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "Service started");
  EXPECT_EQ(lines[1].text, "Wait 0 min after start");
  EXPECT_EQ(workers_.control_starts, (std::vector<platform::Tick>{5000}));
  ASSERT_EQ(checker_starts_.size(), 1u);
  EXPECT_GE(checker_starts_[0], 5000 + 59000);
  EXPECT_LE(checker_starts_[0], 5000 + 59000 + 250 + 100);
  EXPECT_EQ(Count("Wait 0 min after start"), 1) << "the delay is served once";
  EXPECT_TRUE(dials_.empty());
  EXPECT_EQ(params_.wait_time_after_start_s, 59) << "the record is filled for the other threads";
}

// The host's watchdog is fed at once, then once per its period, all through
// the start-up delay and after it; with no host watchdog, never.
TEST_F(SupervisorTest, HostWatchdogIsFedOncePerItsPeriodThroughTheDelayAndAfter) {
  Dword("wait_time_after_start_s", 60);
  std::vector<platform::Tick> feeds;
  reports_.feed_host_watchdog = [&] { feeds.push_back(clock_.NowMs()); };
  RunUntil(5000 + 70000);
  EXPECT_TRUE(feeds.empty());
  reports_.host_watchdog_period_ms = 1500;
  RunUntil(clock_.NowMs() + 70000);
  ASSERT_EQ(feeds.size(), 47u);  // 70 s / 1.5 s, and the feed at the start
  for (std::size_t i = 1; i < feeds.size(); ++i) EXPECT_EQ(feeds[i] - feeds[i - 1], 1500) << i;
}

// The status record is refreshed when its writer says, through the
// start-up delay and after it, and marked stopped once at the end.
TEST_F(SupervisorTest, StatusIsPublishedWhenDueThroughTheDelayAndOnceStopped) {
  Dword("wait_time_after_start_s", 60);
  std::vector<std::pair<platform::Tick, bool>> calls;
  platform::Tick next = 0;
  reports_.publish_status = [&](bool stopping) -> std::optional<platform::Tick> {
    calls.emplace_back(clock_.NowMs(), stopping);
    if (stopping) return std::nullopt;
    if (clock_.NowMs() >= next) next = clock_.NowMs() + 5000;
    return next;
  };
  RunUntil(5000 + 100'000);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().first, 5000);
  EXPECT_EQ(calls.back(), std::make_pair(end_, true));
  std::vector<platform::Tick> due;
  for (std::size_t i = 0; i + 1 < calls.size(); ++i) {
    EXPECT_FALSE(calls[i].second);
    if (calls[i].first % 5000 == 0 && (due.empty() || due.back() != calls[i].first)) due.push_back(calls[i].first);
  }
  // 5 s apart from the start to the end, the delay's 60 s included.
  ASSERT_GE(due.size(), 20u);
  for (std::size_t i = 1; i < due.size(); ++i) EXPECT_EQ(due[i] - due[i - 1], 5000) << i;
}

TEST_F(SupervisorTest, TheLastComputerResetIsLoggedRightAfterServiceStarted) {
  reports_.previous_reset_report = [] { return std::optional<std::string>("Previous computer reset: then (why)"); };
  Text("reset_modem", "wrong type");
  RunUntil(5000 + 500);
  const auto texts = Texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[0], "Service started");
  EXPECT_EQ(texts[1], "Previous computer reset: then (why)");
  EXPECT_EQ(texts[2], "Invalid data type for 'reset_modem', default kept");
}

TEST_F(SupervisorTest, DefaultDelayIsTenMinutes) {
  RunUntil(5000 + 1000);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Service started", "Wait 10 min after start"}));
}

TEST_F(SupervisorTest, TerminateDuringTheDelayEndsWithinAQuarterSecond) {
  RunUntil(5000 + 3000);
  EXPECT_LE(end_, 5000 + 3000 + 250 + 100);
  EXPECT_TRUE(checker_starts_.empty());
}

// The stop handler closes the gate before it stops anything; a start-up
// delay (or a dial) that ends afterwards must not start a checker that
// the stop has already passed.
TEST_F(SupervisorTest, DelayEndingAfterTheStopBeganStartsNoWorker) {
  Dword("wait_time_after_start_s", 10);
  on_sleep_ = [this](platform::Tick now) {
    if (now == 5000 + 5000) workers_.gate_open = false;
  };
  RunUntil(5000 + 30000);
  EXPECT_EQ(Count("Wait 0 min after start"), 1);
  EXPECT_TRUE(checker_starts_.empty());
}

// A worker whose thread cannot be created is logged and tried again on the
// next pass; the run goes on.
TEST_F(SupervisorTest, FailedThreadCreationIsLoggedAndRetriedOnTheNextPass) {
  Dword("wait_time_after_start_s", 1);
  workers_.control_refusals = 1;
  workers_.checker_refusals = 1;
  RunUntil(5000 + 3000);
  EXPECT_EQ(Count("control thread start fail (no threads left)"), 1);
  EXPECT_EQ(Count("checker thread start fail (no threads left)"), 1);
  ASSERT_EQ(workers_.control_attempts.size(), 2u);
  ASSERT_EQ(workers_.checker_attempts.size(), 2u);
  EXPECT_EQ(workers_.checker_attempts[1] - workers_.checker_attempts[0], 100) << "the next pass, 0.1 s later";
  EXPECT_EQ(checker_starts_.size(), 1u);
}

// A worker past its promise of progress (stuck in a driver call or a probe)
// stops the host watchdog's feed, with one line each way, so that the host
// restarts the service instead of hearing that it is alive.
TEST_F(SupervisorTest, HostWatchdogIsNotFedWhileAWorkerIsPastItsPromise) {
  Dword("wait_time_after_start_s", 1);
  reports_.host_watchdog_period_ms = 1000;
  std::vector<platform::Tick> feeds;
  reports_.feed_host_watchdog = [&] { feeds.push_back(clock_.NowMs()); };
  workers_.stuck = [](platform::Tick now) -> const char* {
    if (now > 10500 && now < 20000) return "control thread";
    if (now > 40500) return "checker thread";
    return nullptr;
  };
  RunUntil(50000);
  const std::vector<platform::Tick> expected = {5000,  6000,  7000,  8000,  9000,  10000, 20000, 21000, 22000,
                                                23000, 24000, 25000, 26000, 27000, 28000, 29000, 30000, 31000,
                                                32000, 33000, 34000, 35000, 36000, 37000, 38000, 39000, 40000};
  EXPECT_EQ(feeds, expected);
  std::vector<std::string> about_feeds;
  for (const auto& l : Lines()) {
    if (l.text.starts_with("host watchdog")) about_feeds.push_back(std::to_string(l.at) + " " + l.text);
  }
  EXPECT_EQ(about_feeds, (std::vector<std::string>{"11000 host watchdog ping withheld: control thread made no progress",
                                                   "20000 host watchdog ping resumed",
                                                   "41000 host watchdog ping withheld: checker thread made no progress"}));
}

TEST_F(SupervisorTest, DialModeDialsAtOnceAndStartsTheChecker) {
  Dword("connection_need_dial", 1);
  Text("connection_name", "My ISP");
  RunUntil(5000 + 1000);
  ASSERT_EQ(dials_.size(), 1u);
  EXPECT_EQ(dials_[0].first, 5000);
  EXPECT_EQ(dials_[0].second, "rasdial \"My ISP\"");
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Service started", "Open Internet-connection \"My ISP\""}));
  EXPECT_EQ(checker_starts_, (std::vector<platform::Tick>{5000}));
}

TEST_F(SupervisorTest, ASuccessfulDialStartsTheSettleTime) {
  Dword("connection_need_dial", 1);
  Text("connection_name", "isp");
  Dword("check_settle_after_reset_s", 120);
  RunUntil(5000 + 1000);
  EXPECT_TRUE(flags_.Settling(5000 + 119000));
  EXPECT_FALSE(flags_.Settling(5000 + 120000 + 1));
}

// The redial after a failed cycle settles nothing; the one after a modem
// reset request settles again.
TEST_F(SupervisorTest, OnlyTheFirstDialAndTheOneAfterAModemResetSettle) {
  Dword("connection_need_dial", 1);
  Text("connection_name", "isp");
  Dword("check_settle_after_reset_s", 4);
  std::vector<std::pair<platform::Tick, bool>> settling;  // as a checker would see it
  on_sleep_ = [&](platform::Tick now) {
    if (now == 5000 + 6000) flags_.ConnectionLost();  // a failed cycle
    if (now == 5000 + 12000) {                             // a failed cycle that resets the modem
      flags_.ModemResetRequested(now - 4000, 4);           // asked for by a cycle that began 4 s ago
      flags_.ConnectionLost();
    }
    if (now % 1000 == 0) settling.emplace_back(now - 5000, flags_.Settling(now));
  };
  RunUntil(5000 + 20000);
  ASSERT_EQ(dials_.size(), 3u);
  EXPECT_EQ(dials_[1].first, 5000 + 6000);
  EXPECT_EQ(dials_[2].first, 5000 + 12000);
  const std::vector<std::pair<platform::Tick, bool>> expected = {
      {1000, true},   {2000, true},   {3000, true},   {4000, false}, {5000, false},  {6000, false}, {7000, false},
      {8000, false},  {9000, false},  {10000, false}, {11000, false}, {12000, false}, {13000, true}, {14000, true},
      {15000, true},  {16000, false}, {17000, false}, {18000, false}, {19000, false}, {20000, false}};
  EXPECT_EQ(settling, expected);
}

TEST_F(SupervisorTest, FailedDialIsRetriedEveryPass) {
  Dword("connection_need_dial", 1);
  Text("connection_name", "isp");
  dial_ok_ = false;
  RunUntil(5000 + 1000);
  EXPECT_EQ(dials_.size(), 10u);
  EXPECT_EQ(Count("Unable to open Internet-connection \"isp\""), 10);
  EXPECT_TRUE(checker_starts_.empty());
}

TEST_F(SupervisorTest, RedialsAfterAFailedCycleButStartsTheCheckerOnce) {
  Dword("connection_need_dial", 1);
  Text("connection_name", "isp");
  // The checker clears the flag after a failed cycle at 2 s.
  on_sleep_ = [this](platform::Tick now) {
    if (now == 5000 + 2000) flags_.ConnectionLost();
  };
  RunUntil(5000 + 3000);
  ASSERT_EQ(dials_.size(), 2u);
  EXPECT_EQ(dials_[1].first, 5000 + 2000);
  EXPECT_EQ(checker_starts_.size(), 1u);
}

// Failed cycles while "rasdial" still runs start no second dial on top of
// it; the redial follows once it has ended.
TEST_F(SupervisorTest, NoSecondDialWhileThePreviousOneRuns) {
  Dword("connection_need_dial", 1);
  Text("connection_name", "isp");
  *dialler_running_ = true;
  on_sleep_ = [this](platform::Tick now) {
    if (now == 5000 + 1000 || now == 5000 + 2000) flags_.ConnectionLost();  // two failed cycles
    if (now == 5000 + 3000) *dialler_running_ = false;
  };
  RunUntil(5000 + 4000);
  ASSERT_EQ(dials_.size(), 2u);
  EXPECT_EQ(dials_[1].first, 5000 + 3000);
  EXPECT_EQ(Count("Open Internet-connection \"isp\""), 2);
}

TEST_F(SupervisorTest, DialFlagWithoutNameServesTheDelayAndNeverStartsTheChecker) {
  Dword("connection_need_dial", 1);
  Dword("wait_time_after_start_s", 2);
  RunUntil(5000 + 10000);
  EXPECT_TRUE(dials_.empty());
  EXPECT_EQ(Count("Wait 0 min after start"), 1) << "the delay is served once";
  EXPECT_TRUE(checker_starts_.empty());
}

TEST_F(SupervisorTest, NameWithAQuoteIsNeverDialled) {
  Dword("connection_need_dial", 1);
  Text("connection_name", "a\" & evil");
  RunUntil(5000 + 300);
  EXPECT_TRUE(dials_.empty());
  EXPECT_EQ(Count("Unable to open Internet-connection \"a\" & evil\""), 3);
  EXPECT_EQ(RasdialCommandLine("x\"y"), std::nullopt);
}

TEST_F(SupervisorTest, WrongTypesAreLoggedAfterStart) {
  Text("wait_time_after_start_s", "five");
  RunUntil(5000 + 100);
  const auto texts = Texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[1], "Invalid data type for 'wait_time_after_start_s', default kept");
  EXPECT_EQ(texts[2], "Wait 10 min after start");
}

// A name that would carry a line break into the dial command line (and the
// log) is not taken: the default (none) stays, and the log says why.
TEST_F(SupervisorTest, ATextWithAControlCharacterIsLoggedAfterStartAndNeverUsed) {
  Dword("connection_need_dial", 1);
  Text("connection_name", "isp\r\n12/8/2026 4:50:12 PM - modem reset ok");
  RunUntil(5000 + 300);
  const auto texts = Texts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[1], "Invalid control character in 'connection_name', default kept");
  EXPECT_TRUE(dials_.empty());
  for (const auto& t : texts) EXPECT_EQ(t.find('\n'), std::string::npos) << t;
}

TEST_F(SupervisorTest, DelayIsServedInFullAcrossThe32BitTickBoundary) {
  clock_.Set((platform::Tick{1} << 32) - 1000);
  const platform::Tick start = clock_.NowMs();
  Dword("wait_time_after_start_s", 5);
  RunUntil(start + 10000);
  ASSERT_EQ(checker_starts_.size(), 1u);
  EXPECT_GE(checker_starts_[0], start + 5000);
}

TEST_F(SupervisorTest, SystemLoadLineOnEveryPassWithPeriodZero) {
  Dword("system_load_log_enable", 1);
  Dword("system_load_log_period_s", 0);
  Dword("wait_time_after_start_s", 1);
  bool primed = false;
  host_.prime_system_load = [&] { primed = true; };
  host_.system_load_text = [] { return std::optional<std::string>("7%; RAM in use - 1%; ..."); };
  RunUntil(5000 + 1000 + 500);
  EXPECT_TRUE(primed);
  // One line per pass: the delay pass and the four 100 ms passes after it.
  EXPECT_EQ(Count("System Load: CPU - 7%; RAM in use - 1%; ..."), 5);
}

TEST_F(SupervisorTest, FailedLoadSampleWritesNoLineAndKeepsRunning) {
  Dword("system_load_log_enable", 1);
  Dword("system_load_log_period_s", 1);
  Dword("wait_time_after_start_s", 1);
  RunUntil(5000 + 3000);
  for (const auto& t : Texts()) EXPECT_EQ(t.find("System Load"), std::string::npos);
  EXPECT_EQ(checker_starts_.size(), 1u);
}

}  // namespace
}  // namespace qov::supervision
