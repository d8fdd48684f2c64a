// The service module: the stop order with its limits and kills, the start
// and stop handlers around real worker threads, and the install hooks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "metrics/status_record.h"
#include "platform/leavable_call.h"
#include "platform/memory_registry.h"
#include "platform/status_host.h"
#include "service/qov_lumo_service.h"
#include "service/stop_sequence.h"
#include "device/test_outcome.h"
#include "support/failing_state_store.h"
#include "support/fake_clock.h"
#include "support/fake_probes.h"
#include "support/hanging_probes.h"
#include "support/fake_service_control.h"
#include "support/temp_dir.h"

namespace qov::service {
namespace {

using ::testing::ElementsAre;

// A thread that records what the stop handler does to it; a hanging one
// never ends.
class FakeWorker final : public platform::Stoppable {
 public:
  FakeWorker(std::string name, std::vector<std::string>& journal, bool hangs = false)
      : name_(std::move(name)), journal_(journal), hangs_(hangs) {}
  void RequestTerminate() override { journal_.push_back(name_ + " terminate"); }
  bool WaitFor(std::uint32_t timeout_ms) override {
    journal_.push_back(name_ + " wait " + std::to_string(timeout_ms));
    return !hangs_;
  }

 private:
  std::string name_;
  std::vector<std::string>& journal_;
  bool hangs_;
};

TEST(StopSequenceTest, HangingControlThreadIsLeftBehindAndTheOthersStillStopInTurn) {
  std::vector<std::string> j;
  FakeWorker control("control", j, true), checker("checker", j), receiver("receiver", j), supervisor("supervisor", j);
  const bool all_ended = StopInOrder({{[&] { return &control; }, 5000},
                                      {[&] { return &checker; }, 2000},
                                      {[&] { return &receiver; }, 2000},
                                      {[&] { return &supervisor; }, 2000}},
                                     [&](std::uint32_t limit) { j.push_back("progress " + std::to_string(limit)); });
  EXPECT_FALSE(all_ended);
  EXPECT_THAT(j, ElementsAre("progress 5000", "control terminate", "control wait 5000", "progress 2000",
                             "checker terminate", "checker wait 2000", "progress 2000", "receiver terminate",
                             "receiver wait 2000", "progress 2000", "supervisor terminate", "supervisor wait 2000"));
}

TEST(StopSequenceTest, ThreadsNeverCreatedAreSkippedAndEachIsAskedForAtItsTurn) {
  std::vector<std::string> j;
  FakeWorker supervisor("supervisor", j);
  FakeWorker* late_checker = nullptr;
  FakeWorker checker("checker", j);
  EXPECT_TRUE(StopInOrder({{[&]() -> platform::Stoppable* {
                             late_checker = &checker;  // created while the first thread was being stopped
                             return nullptr;
                           }, 5000},
                           {[&]() -> platform::Stoppable* { return late_checker; }, 2000},
                           {[] { return nullptr; }, 2000},
                           {[&] { return &supervisor; }, 2000}}));
  EXPECT_THAT(j, ElementsAre("checker terminate", "checker wait 2000", "supervisor terminate", "supervisor wait 2000"));
}

// A registry whose keys or values can be made to fail.
class FailingRegistry final : public platform::Registry {
 public:
  bool KeyExists(const std::string& p) override { return inner.KeyExists(p); }
  std::unique_ptr<platform::RegKey> Open(const std::string& p, bool create) override {
    if (p.find(fail_key) != std::string::npos && !fail_key.empty()) return nullptr;
    auto k = inner.Open(p, create);
    if (!k || fail_value.empty()) return k;
    return std::make_unique<Key>(std::move(k), fail_value);
  }
  void DeleteTree(const std::string& p) override { inner.DeleteTree(p); }

  platform::MemoryRegistry inner;
  std::string fail_key;
  std::string fail_value;

 private:
  class Key final : public platform::RegKey {
   public:
    Key(std::unique_ptr<platform::RegKey> k, std::string fail) : k_(std::move(k)), fail_(std::move(fail)) {}
    bool ValueExists(const std::string& n) override { return k_->ValueExists(n); }
    std::optional<platform::RegValue> Read(const std::string& n) override { return k_->Read(n); }
    std::vector<std::string> ValueNames() override { return k_->ValueNames(); }
    bool WriteString(const std::string& n, const std::string& v) override { return n != fail_ && k_->WriteString(n, v); }
    bool WriteDword(const std::string& n, std::uint32_t v) override { return n != fail_ && k_->WriteDword(n, v); }

   private:
    std::unique_ptr<platform::RegKey> k_;
    std::string fail_;
  };
};

constexpr const char* kEventKey = "\\SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\qov_lumo_service";
constexpr const char* kServiceKey = "\\SYSTEM\\CurrentControlSet\\Services\\qov_lumo_service";

// A test asked for before the run has a control thread (or after its stop)
// is answered at once: dropped, so the command does not wait in vain.
TEST(ModuleTestControlTest, ATestWithoutAControlThreadIsRecordedAsDropped) {
  test::FakeServiceControl scm;
  test::FakeClock clock;
  platform::MemoryRegistry reg;
  test::FailingStateStore state;
  Tqov_lumo_service module{scm, clock, reg, nullptr, &state};
  module.ServiceCustomControl(module, 150);  // not one of the service's codes
  EXPECT_TRUE(state.writes.empty());
  module.ServiceCustomControl(module, platform::kTestComputerControl);
  const auto outcome = device::ParseTestOutcome(state.Get(device::kTestOutcomeName).value_or(""));
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->sequence, 1u);
  EXPECT_EQ(outcome->kind, device::TestKind::kComputer);
  EXPECT_EQ(outcome->result, device::TestResult::kDropped);
  EXPECT_EQ(outcome->why, "board not running");
}

class ModuleTest : public ::testing::Test {
 protected:
  test::FakeServiceControl scm;
  test::FakeClock clock;
  FailingRegistry reg;
  Tqov_lumo_service module{scm, clock, reg};
};

TEST_F(ModuleTest, SettingsAreThoseOfTheInstalledService) {
  EXPECT_EQ(module.settings.name, "qov_lumo_service");
  EXPECT_EQ(module.settings.display_name, "QOV Lumo Service");
  EXPECT_TRUE(module.settings.allow_stop);
  EXPECT_FALSE(module.settings.allow_pause);
  EXPECT_EQ(module.settings.wait_hint, 5000u);
  EXPECT_EQ(ControlsAccepted(module.settings, ServiceState::Running), 5u);
  // Restarted a minute after a crash, twice until a day passes without one.
  EXPECT_EQ(module.settings.recovery.restart_delays_ms, (std::vector<std::uint32_t>{60'000, 60'000}));
  EXPECT_EQ(module.settings.recovery.reset_period_s, 86'400u);
}

TEST_F(ModuleTest, AfterInstallWritesTheEventSourceAndTheDescription) {
  reg.inner.SetString(kEventKey, "EventMessageFile", "old");
  reg.inner.SetDword(kEventKey, "TypesSupported", 1);
  module.ServiceAfterInstall(module);
  auto file = reg.inner.Get(kEventKey, "EventMessageFile");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->type, platform::RegValue::Type::String);
  EXPECT_EQ(file->text, "C:\\qov\\qov_lumo_service.exe");
  auto types = reg.inner.Get(kEventKey, "TypesSupported");
  ASSERT_TRUE(types);
  EXPECT_EQ(types->type, platform::RegValue::Type::Dword);
  EXPECT_EQ(types->dword, 7u);
  auto desc = reg.inner.Get(kServiceKey, "Description");
  ASSERT_TRUE(desc);
  EXPECT_EQ(desc->text, "QOV Lumo watchdog timer control service.");

  reg.inner.SetDword(std::string(kEventKey) + "\\sub\\deeper", "x", 1);
  module.ServiceAfterUninstall(module);
  EXPECT_FALSE(reg.inner.KeyExists(kEventKey));
  EXPECT_FALSE(reg.inner.KeyExists(std::string(kEventKey) + "\\sub"));
  EXPECT_TRUE(reg.inner.KeyExists(kServiceKey));
  module.ServiceAfterUninstall(module);  // a missing key is no error
}

TEST_F(ModuleTest, AfterInstallFailuresNameTheKeyOrTheValue) {
  reg.fail_key = "Services\\qov_lumo_service";
  try {
    module.ServiceAfterInstall(module);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Failed to create key \\SYSTEM\\CurrentControlSet\\Services\\qov_lumo_service");
  }
  EXPECT_TRUE(reg.inner.Get(kEventKey, "TypesSupported"));  // what was written before stays

  reg.fail_key.clear();
  reg.fail_value = "EventMessageFile";
  try {
    module.ServiceAfterInstall(module);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'EventMessageFile'");
  }
}

// The last non-empty line of a log file.
std::string LastLine(const std::string& path) {
  std::ifstream in(path);
  std::string line, last;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) last = line;
  }
  return last;
}

class RunningModuleTest : public ::testing::Test {
 protected:
  RunningModuleTest() {
    // The workers sleep on the fake clock; a little real time per sleep
    // keeps them from spinning while real threads run.
    clock.OnSleep([](platform::Tick) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
    reg.SetString(config::kConfigKey, "log_file_path", log_path);
    reg.SetString(config::kConfigKey, "qov_com_port", "COM_NONE");
  }
  ~RunningModuleTest() override { clock.OnSleep(nullptr); }

  test::FakeServiceControl scm;
  test::FakeClock clock;
  platform::MemoryRegistry reg;
  test::TempDir dir;
  const std::string log_path = dir.File("qov.log");
  std::shared_ptr<test::FakeProbes> fake_probes = std::make_shared<test::FakeProbes>();
  std::unique_ptr<platform::StateStore> state = platform::RegistryStateStore(reg);
};

TEST_F(RunningModuleTest, StopAfterStartTakesEveryThreadDownAndLogsStoppedLast) {
  Tqov_lumo_service module{scm, clock, reg, fake_probes, state.get()};
  bool started = false;
  module.ServiceStart(module, started);
  EXPECT_TRUE(started);
  Runtime* rt = module.CurrentRuntime();
  ASSERT_NE(rt, nullptr);
  ASSERT_NE(rt->port, nullptr);
  bool stopped = false;
  module.ServiceStop(module, stopped);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(rt->port, nullptr);
  EXPECT_EQ(rt->supervisor, nullptr);
  EXPECT_THAT(LastLine(log_path), ::testing::EndsWith(" - Service stopped"));
  // The status record, in the run's state store, tells -STATUS the run ended.
  const auto text = state->ReadStatus();
  ASSERT_TRUE(text);
  const auto record = metrics::ParseStatus(*text);
  ASSERT_TRUE(record) << *text;
  EXPECT_FALSE(record->running);
  EXPECT_EQ(record->pid, platform::CurrentProcessId());
  EXPECT_EQ(record->port, rt->params.qov_com_port);

  // A second stop of the same run frees nothing twice and writes nothing.
  stopped = false;
  module.ServiceStop(module, stopped);
  EXPECT_TRUE(stopped);
  std::ifstream in(log_path);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(log.find("Service stopped"), log.rfind("Service stopped")) << log;
}

// The checker is inside a probe that would never return: the stop gives up
// on the probe within its quarter-second check, so every thread ends in
// time and everything is freed; the probe's helper is left behind, never
// killed, and the cycle it cut short is neither logged nor counted.
TEST_F(RunningModuleTest, StopWhileAProbeHangsEndsEveryThreadAndLeavesOnlyTheProbeBehind) {
  reg.SetDword(config::kConfigKey, "wait_time_after_start_s", 0);
  reg.SetDword(config::kConfigKey, "reset_modem", 1);
  reg.SetDword(config::kConfigKey, "check_fail_loop_count", 0);
  auto probes = std::make_shared<test::HangingProbes>();
  Tqov_lumo_service module{scm, clock, reg, probes, state.get()};
  bool started = false;
  module.ServiceStart(module, started);
  while (probes->Entered() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  const auto before = std::chrono::steady_clock::now();
  bool stopped = false;
  module.ServiceStop(module, stopped);
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_TRUE(stopped);
  EXPECT_EQ(module.CurrentRuntime()->supervisor, nullptr) << "every thread ended within its limit";
  EXPECT_LT(took, std::chrono::milliseconds(2000)) << "the checker's limit, never reached";
  EXPECT_EQ(probes->Left(), 0) << "the probe itself is still blocked";
  EXPECT_THAT(LastLine(log_path), ::testing::EndsWith(" - Service stopped"));
  std::ifstream in(log_path);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(log.find("ping"), std::string::npos) << log;

  // One progress report per step, each hint covering the step's limit.
  std::vector<std::uint32_t> hints;
  for (const auto& st : scm.Statuses()) hints.push_back(st.wait_hint);
  EXPECT_THAT(hints, ElementsAre(6000u, 3000u, 3000u, 3000u));
}

// With event_log_enable the run reports its start, each configuration
// problem and its stop, in that order, under the service's source; without
// it the event log sees nothing of a run that goes well.
TEST_F(RunningModuleTest, EventLogSeesStartProblemsAndStopOnlyWhenEnabled) {
  reg.SetDword(config::kConfigKey, "connection_need_dial", 1);  // without a connection name: a problem
  for (const bool enabled : {false, true}) {
    SCOPED_TRACE(enabled ? "enabled" : "disabled");
    test::FakeServiceControl sc;
    reg.SetDword(config::kConfigKey, "event_log_enable", enabled);
    Tqov_lumo_service module{sc, clock, reg, fake_probes, state.get()};
    bool started = false;
    module.ServiceStart(module, started);
    // The supervisor reports once the configuration is loaded, after "Service started".
    const auto loaded = [&] {
      std::ifstream in(log_path);
      const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      return log.find("Wait ") != std::string::npos;
    };
    while (!loaded()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool stopped = false;
    module.ServiceStop(module, stopped);
    std::vector<std::string> seen;
    for (const auto& e : sc.Events()) {
      if (e.id == 1100) continue;  // the board on COM_NONE, if its wait ended in time
      EXPECT_EQ(e.source, "qov_lumo_service");
      seen.push_back(std::to_string(e.id) + (e.id == 1002 ? " " + e.text.substr(0, 48) : ""));
    }
    if (!enabled) {
      EXPECT_THAT(seen, ElementsAre());
      continue;
    }
    // The key holds no check_addr_0, so that address is empty: a problem too.
    EXPECT_THAT(seen, ElementsAre("1000", "1002 Configuration problem: qov_com_port \"COM_NONE\" i",
                                  "1002 Configuration problem: connection_need_dial is s",
                                  "1002 Configuration problem: check_addr_count is 1 but", "1001"));
    EXPECT_EQ(sc.Events().front().type, platform::EventType::Information);
    EXPECT_EQ(sc.Events()[1].type, platform::EventType::Warning);
    EXPECT_EQ(sc.Events()[1].strings.size(), 1u) << "the problem is the one insertion string";
  }
}

TEST_F(RunningModuleTest, FailedThreadCreationInTheStartHandlerIsAStartFailure) {
  Tqov_lumo_service module{scm, clock, reg, fake_probes, state.get()};
  module.SetThreadStarter([](platform::WorkerThread&) { throw std::runtime_error("CreateThread failed"); });
  bool started = true;
  EXPECT_THROW(module.ServiceStart(module, started), std::runtime_error);
  EXPECT_TRUE(started) << "left as the host preset it: the error, not the flag, reports the failure";
}

}  // namespace
}  // namespace qov::service
