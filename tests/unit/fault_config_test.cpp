// Hostile configuration values, through the loader and then through the
// workers that use them (checker, control thread, supervisor), each run on
// the fake clock for a bounded time and stopped. UBSan turns any overflow
// into a failure; a worker that ignored its terminate request would run
// past the stop limit checked here.
//
//   fault                                   expected outcome
//   --------------------------------------  -----------------------------------------------------------
//   any value with the wrong type           the default is kept, the value is named once in the
//   (text for a number, a number for text,  wrong-type list ("Invalid data type for ..."), every other
//   binary for either)                      value still loads
//   64 KiB, 64 KiB + 1 and 1 MiB strings    taken as stored; every worker runs and stops
//   in every text value
//   INT_MIN, -1, 0, 1, INT_MAX, UINT_MAX,   taken as stored, except the documented clamps
//   INT_MAX / 1000 + 1, UINT_MAX / 1000 + 1 (wait_time_after_start_s <= 0 -> 1, check_ok_period_s
//   in every number, one at a time and     0 -> 1, check_addr_count outside 1..64 -> 0, flags: non-zero
//   all at once                             is set); no overflow (periods x 1000 in 64 bits), every
//                                           worker stops within its stop limit (control 5 s, others 2 s)
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "config/config_loader.h"
#include "config/log_writer.h"
#include "device/control_thread.h"
#include "platform/memory_registry.h"
#include "platform/state_store.h"
#include "supervision/checker.h"
#include "supervision/program_control.h"
#include "supervision/reset_history.h"
#include "supervision/supervisor.h"
#include "support/fake_clock.h"
#include "support/fake_device.h"
#include "support/fake_probes.h"
#include "support/fake_run_reports.h"
#include "support/fake_serial_port.h"
#include "support/fake_user_session.h"
#include "support/fake_workers.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"

namespace qov::config {
namespace {

using platform::MemoryRegistry;
using platform::Tick;

// The stop limits the stop handler gives each thread.
constexpr Tick kControlStopLimitMs = 5000;
constexpr Tick kWorkerStopLimitMs = 2000;

// ---------------------------------------------------------------------------
// Every value of the configuration.

enum class Kind { Flag, Signed, Unsigned, Text };

struct ValueName {
  std::string name;
  Kind kind;
};

template <typename T>
constexpr Kind KindOf() {
  if constexpr (std::is_same_v<T, bool>) return Kind::Flag;
  if constexpr (std::is_same_v<T, std::uint32_t>) return Kind::Unsigned;
  if constexpr (std::is_integral_v<T>) return Kind::Signed;
  return Kind::Text;
}

std::vector<ValueName> AllValues() {
  std::vector<ValueName> v;
#define QOV_PARAM(name, type, default_value, limit, shown_at) \
  if (!std::is_same_v<type, CheckAddrList>) v.push_back({#name, KindOf<type>()});
#include "config/param_fields.def"
  for (int n = 0; n <= kMaxCheckAddrCount; ++n) v.push_back({"check_addr_" + std::to_string(n), Kind::Text});
  return v;
}

// Every field of the record, one per line, so that two records compare as text.
std::string Describe(const TParamRec& p) {
  std::ostringstream s;
  const auto put = [&s](const char* name, const auto& value) {
    if constexpr (std::is_same_v<std::decay_t<decltype(value)>, CheckAddrList>) {
      for (std::size_t n = 0; n < value.size(); ++n) s << "\n" << name << "_" << n << " " << value[n];
    } else {
      s << "\n" << name << " " << value;
    }
  };
#define QOV_PARAM(name, type, default_value, limit, shown_at) put(#name, p.name);
#include "config/param_fields.def"
  return s.str();
}

// The text field a value name sets.
std::string& TextField(TParamRec& p, const std::string& name) {
  std::string* found = nullptr;
  const auto take = [&](const char* field_name, auto& field) {
    if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::string>) {
      if (name == field_name) found = &field;
    }
  };
#define QOV_PARAM(field_name, type, default_value, limit, shown_at) take(#field_name, p.field_name);
#include "config/param_fields.def"
  return found ? *found : p.check_addr.at(std::stoul(name.substr(std::string("check_addr_").size())));
}

// The number field a value name sets, widened.
std::int64_t NumberField(const TParamRec& p, const std::string& name) {
  std::optional<std::int64_t> found;
  const auto take = [&](const char* field_name, const auto& field) {
    if constexpr (std::is_integral_v<std::decay_t<decltype(field)>>) {
      if (name == field_name) found = field;
    }
  };
#define QOV_PARAM(field_name, type, default_value, limit, shown_at) take(#field_name, p.field_name);
#include "config/param_fields.def"
  if (!found) ADD_FAILURE() << "no number field " << name;
  return found.value_or(0);
}

// What the loader makes of the DWORD `stored` in `name`: the clamps docs/configuration.md gives.
std::int64_t Expected(const ValueName& v, std::uint32_t stored) {
  const auto as_signed = static_cast<std::int32_t>(stored);
  if (v.kind == Kind::Flag) return stored != 0;
  if (v.name == "wait_time_after_start_s") return as_signed <= 0 ? 1 : as_signed;
  if (v.name == "check_ok_period_s") return stored == 0 ? 1 : std::int64_t{stored};
  if (v.name == "metrics_period_s") return as_signed <= 0 ? 1 : as_signed;
  if (v.name == "check_addr_count") return as_signed >= 1 && as_signed <= kMaxCheckAddrCount ? as_signed : 0;
  return v.kind == Kind::Unsigned ? std::int64_t{stored} : as_signed;
}

struct Number {
  const char* label;
  std::uint32_t bits;
};

const std::vector<Number> kNumbers = {
    {"INT_MIN", static_cast<std::uint32_t>(INT_MIN)},
    {"-1", static_cast<std::uint32_t>(-1)},
    {"0", 0},
    {"1", 1},
    {"INT_MAX", static_cast<std::uint32_t>(INT_MAX)},
    {"UINT_MAX", UINT_MAX},
    {"INT_MAX / 1000 + 1 (x 1000 overflows 32 bits)", static_cast<std::uint32_t>(INT_MAX / 1000 + 1)},
    {"UINT_MAX / 1000 + 1 (x 1000 overflows 32 bits)", UINT_MAX / 1000 + 1},
};

// Puts a value back as it was when the scope ends.
class Restore {
 public:
  Restore(MemoryRegistry& reg, std::string name) : reg_(reg), name_(std::move(name)), old_(reg.Get(kConfigKey, name_)) {}
  ~Restore() {
    if (old_) {
      reg_.Set(kConfigKey, name_, *old_);
    } else {
      reg_.DeleteValue(kConfigKey, name_);
    }
  }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;

 private:
  MemoryRegistry& reg_;
  std::string name_;
  std::optional<platform::RegValue> old_;
};

// ---------------------------------------------------------------------------
// The workers, each run for a bounded fake time and then stopped.

class ConfigFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A configuration where every worker has something to do: two check
    // addresses, both resets, program control, load lines, a short delay.
    Dword("wait_time_after_start_s", 1);
    Dword("check_ok_period_s", 1);
    Dword("check_fail_period_s", 1);
    Dword("check_fail_loop_count", 1);
    Dword("reset_modem", 1);
    Dword("reset_comp", 1);
    Dword("check_addr_count", 2);
    Text("check_addr_0", "ICMP - 10.0.0.1");
    Text("check_addr_1", "HTTP - 10.0.0.2/check");
    Text("log_file_path", dir_.File("qov.log"));
    Text("program_ctrl_process_name", "telemetry");
    Text("program_ctrl_command_line", "telemetry.exe --run");
    Dword("program_ctrl_check_period_s", 5);
    Dword("life_beakon_period_ms", 1000);
    Dword("system_load_log_enable", 1);
    Dword("system_load_log_period_s", 1);
    Dword("check_settle_after_reset_s", 5);
    Dword("reset_comp_max_per_day", 3);
  }

  void Dword(const std::string& name, std::uint32_t v) { reg_.SetDword(kConfigKey, name, v); }
  void Text(const std::string& name, const std::string& v) { reg_.SetString(kConfigKey, name, v); }

  // Runs the loaded configuration through all three workers.
  void RunWorkers(const std::string& what) {
    SCOPED_TRACE(what);
    const LoadResult loaded = LoadConfig(reg_);
    RunChecker(loaded.params);
    RunControlThread(loaded.params);
    RunSupervisor();
  }

  // Checks that fail every third address, so both periods, the settle time
  // and the escalation run, computer resets counted against the daily limit
  // in a registry of the test's own; program control on a session that
  // lacks the program.
  void RunChecker(const TParamRec& params) {
    test::FakeClock clock;
    test::RecordingLog log(&clock);
    supervision::RunFlags flags;
    test::FakeProbes probes;
    int probe = 0;
    probes.decide = [&](const test::FakeProbes::Call&) { return ++probe % 3 == 0; };
    test::FakeUserSession session;
    supervision::ProgramControl program(session, log, params);
    device::TComPort port(std::make_unique<test::FakeSerialPort>(clock));
    device::RcvMailbox mailbox;
    device::TQOVControlThread control(device::DeviceContext{clock, log, params, port, mailbox});
    MemoryRegistry state_registry;
    const std::unique_ptr<platform::StateStore> state = platform::RegistryStateStore(state_registry);
    supervision::ResetHistory history(*state, [&clock] { return 1'800'000'000 + clock.NowMs() / 1000; });
    supervision::TOSMonitorThread checker(supervision::CheckerContext{
        clock, log, params, flags, &control, probes, [&](const std::atomic<bool>& stop) { program.Step(stop); },
        &history});
    const Tick terminate_at = clock.NowMs() + 5 * 60'000;
    clock.OnSleep([&](Tick now) {
      // Reset requests are taken as the control thread would.
      control.modem_reset_request = false;
      control.pc_reset_request = false;
      if (now >= terminate_at) checker.RequestTerminate();
    });
    checker.RunHere();
    clock.OnSleep(nullptr);
    EXPECT_LE(clock.NowMs() - terminate_at, kWorkerStopLimitMs) << "checker";
  }

  // A device that answers everything; modem and computer resets asked for
  // every ten seconds.
  void RunControlThread(const TParamRec& params) {
    test::FakeClock clock;
    test::RecordingLog log(&clock);
    auto fake = std::make_unique<test::FakeSerialPort>(clock);
    test::FakeSerialPort& fake_port = *fake;
    device::TComPort port(std::move(fake));
    device::RcvMailbox mailbox;
    test::FakeDevice device(clock, fake_port, mailbox);
    device::TQOVControlThread control(device::DeviceContext{
        clock, log, params, port, mailbox,
        // The system's port list is searched for the name; the fake port opens anyway.
        [](const std::string& name) { return device::ComPortPresent(name) || true; },
        [](platform::Clock& c, device::TComPort& p, device::RcvMailbox& m) {
          return std::make_unique<device::TComRcvThread>(c, p, m);
        }});
    const Tick start = clock.NowMs();
    const Tick terminate_at = start + 5 * 60'000;
    Tick next_reset = start + 10'000;
    device.on_time = [&](Tick now) {
      if (now >= next_reset) {
        control.RequestModemReset();
        control.RequestComputerReset();
        next_reset = now + 10'000;
      }
      if (now >= terminate_at) control.RequestTerminate();
    };
    control.RunHere();
    EXPECT_LE(clock.NowMs() - terminate_at, kControlStopLimitMs) << "control thread";
  }

  // The supervisor loads the registry itself; its workers are not made.
  void RunSupervisor() {
    test::FakeClock clock(5000);
    LogWriter log([] { return std::string("T"); }, clock);
    TParamRec params;
    supervision::RunFlags flags;
    test::FakeRunReports reports;
    test::FakeHostActions host;
    host.system_load_text = [] { return std::optional<std::string>("5 %"); };
    test::FakeWorkers workers(clock);
    supervision::TSupervisorThread sup(
        supervision::SupervisorContext{clock, reg_, log, params, flags, workers, reports, host});
    const Tick terminate_at = clock.NowMs() + 3000;
    clock.OnSleep([&](Tick now) {
      if (now >= terminate_at) sup.RequestTerminate();
    });
    sup.RunHere();
    clock.OnSleep(nullptr);
    EXPECT_LE(clock.NowMs() - terminate_at, kWorkerStopLimitMs) << "supervisor";
  }

  MemoryRegistry reg_;
  test::TempDir dir_;
};

// ---------------------------------------------------------------------------

TEST_F(ConfigFaultTest, EveryValueWithTheWrongTypeKeepsItsDefaultAndIsNamed) {
  Dword("check_addr_count", kMaxCheckAddrCount);  // so that every entry is read
  for (const ValueName& v : AllValues()) {
    const Restore restore(reg_, v.name);
    for (const char* wrong : {"the other kind", "binary"}) {
      SCOPED_TRACE(v.name + " stored as " + wrong);
      // The same configuration without the value is what it must load like.
      reg_.DeleteValue(kConfigKey, v.name);
      const LoadResult without = LoadConfig(reg_);
      if (std::string(wrong) == "binary") {
        reg_.SetBinary(kConfigKey, v.name);
      } else if (v.kind == Kind::Text) {
        Dword(v.name, 7);
      } else {
        Text(v.name, "7");
      }
      LoadResult with = LoadConfig(reg_);
      // A missing address entry is empty, a wrong-typed one keeps its default.
      TParamRec expected = without.params;
      TParamRec defaults;
      if (v.kind == Kind::Text && v.name.rfind("check_addr_", 0) == 0) {
        TextField(expected, v.name) = TextField(defaults, v.name);
      }
      EXPECT_EQ(Describe(with.params), Describe(expected));
      EXPECT_EQ(with.wrong_type_values, std::vector<std::string>{v.name});
    }
  }
}

TEST_F(ConfigFaultTest, EveryValueWrongAtOnceLoadsTheDefaultsAndTheWorkersRunOnThem) {
  std::vector<std::string> names;
  for (const ValueName& v : AllValues()) {
    if (v.kind == Kind::Text) {
      Dword(v.name, 1);
    } else {
      Text(v.name, "1");
    }
    names.push_back(v.name);
  }
  const LoadResult r = LoadConfig(reg_);
  EXPECT_EQ(Describe(r.params), Describe(TParamRec{}));
  // check_addr_count kept its default of 1: entries 0 and 1 are read, no more.
  std::vector<std::string> expected;
  for (const auto& n : names)
    if (n.rfind("check_addr_", 0) != 0 || n == "check_addr_count" || n == "check_addr_0" || n == "check_addr_1")
      expected.push_back(n);
  std::vector<std::string> sorted = r.wrong_type_values;
  std::sort(sorted.begin(), sorted.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted, expected);
  // The default log path is the system's: keep the run's log in the test folder.
  Text("log_file_path", dir_.File("qov.log"));
  RunWorkers("every value wrong");
}

TEST_F(ConfigFaultTest, StringsOf64KiBAndMoreInEveryTextValueAreTakenAsStoredAndUsed) {
  Dword("check_addr_count", kMaxCheckAddrCount);
  for (const std::size_t length : {std::size_t{64} << 10, (std::size_t{64} << 10) + 1, std::size_t{1} << 20}) {
    for (const ValueName& v : AllValues()) {
      if (v.kind != Kind::Text) continue;
      SCOPED_TRACE(v.name + " of " + std::to_string(length) + " bytes");
      const Restore restore(reg_, v.name);
      // Something each consumer takes as its own: an address, a path in the test folder.
      std::string text = v.name.rfind("check_addr_", 0) == 0 ? "ICMP - " : "";
      if (v.name == "log_file_path") text = dir_.File("");
      text += std::string(length - text.size(), 'a');
      Text(v.name, text);
      LoadResult loaded = LoadConfig(reg_);
      EXPECT_EQ(TextField(loaded.params, v.name), text);
      EXPECT_TRUE(loaded.wrong_type_values.empty());
      // The workers run each value once, at 64 KiB + 1; entries past the
      // count are read but never used.
      const bool used = v.name.rfind("check_addr_", 0) != 0 || v.name == "check_addr_0" ||
                        v.name == "check_addr_63";
      if (!used || length != (std::size_t{64} << 10) + 1) continue;
      const Restore dial(reg_, "connection_need_dial");
      if (v.name == "connection_name") Dword("connection_need_dial", 1);
      RunWorkers(v.name);
    }
  }
}

TEST_F(ConfigFaultTest, ExtremeNumbersInEveryNumberAreTakenAsStoredOrClampedAndNoWorkerOverflowsOrHangs) {
  for (const ValueName& v : AllValues()) {
    if (v.kind == Kind::Text) continue;
    const Restore restore(reg_, v.name);
    for (const Number& n : kNumbers) {
      SCOPED_TRACE(v.name + " = " + n.label);
      Dword(v.name, n.bits);
      const LoadResult loaded = LoadConfig(reg_);
      EXPECT_EQ(NumberField(loaded.params, v.name), Expected(v, n.bits));
      RunWorkers(v.name + " = " + n.label);
    }
  }
}

TEST_F(ConfigFaultTest, ExtremeNumbersInEveryNumberAtOnce) {
  for (const Number& n : kNumbers) {
    SCOPED_TRACE(std::string("every number = ") + n.label);
    for (const ValueName& v : AllValues()) {
      if (v.kind != Kind::Text) Dword(v.name, n.bits);
    }
    const LoadResult loaded = LoadConfig(reg_);
    for (const ValueName& v : AllValues()) {
      if (v.kind != Kind::Text) {
        EXPECT_EQ(NumberField(loaded.params, v.name), Expected(v, n.bits)) << v.name;
      }
    }
    RunWorkers(std::string("every number = ") + n.label);
  }
}

}  // namespace
}  // namespace qov::config
