// "-TEST MODEM|COMPUTER" against a fake service: what is sent, the
// confirmation, and the exit status from the outcome the service records.
#include "service/test_command.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "device/test_outcome.h"
#include "support/fake_clock.h"

namespace qov::service {
namespace {

using device::TestKind;
using device::TestResult;

// A service that, `answer_after_ms` after a control reached it, stores the
// next outcome with `result`; with no result it never answers.
class FakeTestService {
 public:
  explicit FakeTestService(test::FakeClock& clock) : clock_(clock) {
    clock_.OnSleep([this](platform::Tick now) {
      if (sent_at_ && result && now >= *sent_at_ + answer_after_ms) {
        stored = device::FormatTestOutcome({last_sequence + 1, kind, *result, 1'765'300'000, why});
        sent_at_.reset();
      }
    });
  }

  TestCommandIo Io() {
    return TestCommandIo{
        clock_,
        [this](std::uint32_t code, std::string& text) {
          sent.push_back(code);
          text = "the system's reason";
          if (send_result == platform::ControlSent::kSent) sent_at_ = clock_.NowMs();
          return send_result;
        },
        [this] { return stored; },
        [this]() -> std::optional<std::string> {
          ++prompts_read;
          return typed;
        },
        [this](const std::string& t) { out += t; },
        [this](const std::string& t) { err += t; },
    };
  }

  int Run(const std::vector<std::string>& args) {
    TestCommandIo io = Io();
    return RunTestCommand(args, io);
  }

  platform::ControlSent send_result = platform::ControlSent::kSent;
  std::optional<TestResult> result = TestResult::kOk;
  TestKind kind = TestKind::kModem;
  std::string why;
  platform::Tick answer_after_ms = 300;
  std::uint64_t last_sequence = 0;
  std::optional<std::string> stored;
  std::optional<std::string> typed;
  std::vector<std::uint32_t> sent;
  int prompts_read = 0;
  std::string out, err;

 private:
  test::FakeClock& clock_;
  std::optional<platform::Tick> sent_at_;
};

TEST(TestCommandTest, TheExitStatusSaysWhatTheServiceAndTheBoardDid) {
  struct Case {
    const char* name;
    platform::ControlSent send_result;
    std::optional<TestResult> result;
    std::string why;
    int exit;
    std::string message;  // part of what the command prints
  };
  const Case cases[] = {
      {"acknowledged", platform::ControlSent::kSent, TestResult::kOk, "", 0, "The board acknowledged the modem reset."},
      {"not acknowledged", platform::ControlSent::kSent, TestResult::kFail, "", 1,
       "The board did not acknowledge the modem reset."},
      {"dropped", platform::ControlSent::kSent, TestResult::kDropped, "board not running", 1,
       "The service dropped the modem reset: board not running."},
      {"no outcome", platform::ControlSent::kSent, std::nullopt, "", 1, "No outcome from the service within 15 s"},
      {"service not running", platform::ControlSent::kNotRunning, std::nullopt, "", 3,
       "The service is not running (the system's reason)"},
      {"refused", platform::ControlSent::kRefused, std::nullopt, "", 1, "only an administrator or root may ask"},
      {"not sent", platform::ControlSent::kFailed, std::nullopt, "", 1, "could not be sent"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeClock clock;
    FakeTestService service(clock);
    service.send_result = c.send_result;
    service.result = c.result;
    service.why = c.why;
    EXPECT_EQ(service.Run({"-TEST", "modem"}), c.exit);
    EXPECT_EQ(service.sent, std::vector<std::uint32_t>{platform::kTestModemControl});
    EXPECT_NE((service.out + service.err).find(c.message), std::string::npos) << service.out << service.err;
    EXPECT_EQ(service.prompts_read, 0);
    // An answer is taken as soon as it is read; no answer ends the wait at its bound.
    const platform::Tick waited = clock.NowMs() - 1000;
    if (c.send_result != platform::ControlSent::kSent) {
      EXPECT_EQ(waited, 0);
    } else if (c.result) {
      EXPECT_GE(waited, 300);
      EXPECT_LE(waited, 300 + kTestOutcomeRereadMs);
    } else {
      EXPECT_EQ(waited, kTestOutcomeWaitMs);
    }
  }
}

// The outcome of an earlier test is no answer: only a newer record counts.
TEST(TestCommandTest, AnEarlierOutcomeIsNotTakenForThisOne) {
  test::FakeClock clock;
  FakeTestService service(clock);
  service.last_sequence = 7;
  service.stored = device::FormatTestOutcome({7, TestKind::kModem, TestResult::kOk, 1'765'000'000, ""});
  service.result = TestResult::kFail;
  service.answer_after_ms = 3000;
  EXPECT_EQ(service.Run({"/test", "MODEM"}), 1);
  EXPECT_GE(clock.NowMs() - 1000, 3000);
  EXPECT_EQ(device::ParseTestOutcome(*service.stored)->sequence, 8u);
}

// The computer reset asks first on the console unless -SILENT is given;
// anything but YES sends nothing.
TEST(TestCommandTest, TheComputerResetGoesOutOnlyAfterYesOrWithSilent) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::optional<std::string> typed;
    int prompts;
    bool sent;
    int exit;
  };
  const Case cases[] = {
      {"confirmed", {"-TEST", "COMPUTER"}, "YES", 1, true, 0},
      {"confirmed on a console that ends lines with CR", {"-TEST", "computer"}, "YES\r", 1, true, 0},
      {"declined", {"-TEST", "COMPUTER"}, "yes please", 1, false, 1},
      {"end of input", {"-TEST", "COMPUTER"}, std::nullopt, 1, false, 1},
      {"silent", {"-TEST", "COMPUTER", "-SILENT"}, std::nullopt, 0, true, 0},
      {"silent first", {"-SILENT", "-TEST", "COMPUTER"}, std::nullopt, 0, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeClock clock;
    FakeTestService service(clock);
    service.kind = TestKind::kComputer;
    service.typed = c.typed;
    EXPECT_EQ(service.Run(c.args), c.exit);
    EXPECT_EQ(service.prompts_read, c.prompts);
    EXPECT_EQ(service.out.find("This resets the computer now. Type YES to go on:") != std::string::npos,
              c.prompts == 1);
    EXPECT_EQ(service.sent, c.sent ? std::vector<std::uint32_t>{platform::kTestComputerControl}
                                   : std::vector<std::uint32_t>{});
    if (!c.sent) {
      EXPECT_NE(service.err.find("Not confirmed: nothing was sent."), std::string::npos);
    }
  }
}

TEST(TestCommandTest, WithoutWhatToResetItIsAUsageErrorAndNothingIsSent) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-TEST"}, {"-TEST", "ROUTER"}, {"-TEST", "-SILENT"}}) {
    test::FakeClock clock;
    FakeTestService service(clock);
    EXPECT_EQ(service.Run(args), 2);
    EXPECT_TRUE(service.sent.empty());
    EXPECT_NE(service.err.find("-TEST MODEM or -TEST COMPUTER"), std::string::npos);
  }
}

TEST(TestOutcomeTest, RecordsReadBackAsWrittenAndRejectsOthers) {
  const device::TestOutcome dropped{12, TestKind::kComputer, TestResult::kDropped, 1'765'300'000,
                                    "service stopping"};
  EXPECT_EQ(device::FormatTestOutcome(dropped), "12 computer dropped 1765300000 service stopping");
  EXPECT_EQ(device::ParseTestOutcome(device::FormatTestOutcome(dropped)), dropped);
  const device::TestOutcome ok{1, TestKind::kModem, TestResult::kOk, 5, ""};
  EXPECT_EQ(device::ParseTestOutcome(device::FormatTestOutcome(ok)), ok);
  for (const char* bad : {"", "x modem ok 1", "1 router ok 1", "1 modem maybe 1", "1 modem ok"}) {
    EXPECT_EQ(device::ParseTestOutcome(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace qov::service
