#include "service/test_command.h"

#include <cstdio>
#include <iostream>

#include "device/test_outcome.h"
#include "platform/state_store.h"
#include "platform/wake_event.h"
#include "service/qov_lumo_service.h"
#include "service/service_application.h"

namespace qov::service {
namespace {

constexpr const char* kConfirmPrompt = "This resets the computer now. Type YES to go on: ";

// The word after "-TEST"; nothing when there is none.
std::optional<std::string> TestTarget(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (HasSwitch({args[i]}, "TEST")) return args[i + 1];
  }
  return std::nullopt;
}

std::optional<std::uint64_t> SequenceOf(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const auto outcome = device::ParseTestOutcome(*text);
  if (!outcome) return std::nullopt;
  return outcome->sequence;
}

// Reads the outcome again every 100 ms until one newer than `before` is
// stored or the wait is over.
std::optional<device::TestOutcome> WaitForOutcome(TestCommandIo& io, std::uint64_t before) {
  platform::WakeEvent never;
  const platform::Tick deadline = platform::DeadlineAfter(io.clock.NowMs(), kTestOutcomeWaitMs);
  for (;;) {
    if (const auto text = io.read_outcome()) {
      const auto outcome = device::ParseTestOutcome(*text);
      if (outcome && outcome->sequence > before) return outcome;
    }
    const platform::Tick now = io.clock.NowMs();
    if (platform::IsDue(now, deadline)) return std::nullopt;
    io.clock.WaitUntil(std::min(deadline, platform::DeadlineAfter(now, kTestOutcomeRereadMs)), never);
  }
}

}  // namespace

int RunTestCommand(const std::vector<std::string>& args, TestCommandIo& io) {
  const std::optional<std::string> target = TestTarget(args);
  const bool modem = target && platform::SameTextIgnoringCase(*target, "MODEM");
  const bool computer = target && platform::SameTextIgnoringCase(*target, "COMPUTER");
  if (!modem && !computer) {
    io.err("-TEST needs what to reset: -TEST MODEM or -TEST COMPUTER\n");
    return kTestUsageExit;
  }
  const char* what = modem ? "modem reset" : "computer reset";
  if (computer && !HasSwitch(args, "SILENT")) {
    io.out(kConfirmPrompt);
    const std::optional<std::string> answer = io.read_line();
    std::string typed = answer.value_or("");
    while (!typed.empty() && (typed.back() == '\r' || typed.back() == '\n' || typed.back() == ' ')) typed.pop_back();
    if (typed != "YES") {
      io.err("Not confirmed: nothing was sent.\n");
      return kTestNotAcknowledgedExit;
    }
  }

  // The last outcome before asking: only a newer one answers this request.
  const std::uint64_t before = SequenceOf(io.read_outcome()).value_or(0);
  std::string why;
  switch (io.send(modem ? platform::kTestModemControl : platform::kTestComputerControl, why)) {
    case platform::ControlSent::kSent: break;
    case platform::ControlSent::kNotRunning:
      io.err("The service is not running (" + why + "): nothing was sent.\n");
      return kTestServiceNotRunningExit;
    case platform::ControlSent::kRefused:
      io.err("The service refused the request (" + why + "): only an administrator or root may ask.\n");
      return kTestNotAcknowledgedExit;
    case platform::ControlSent::kFailed:
      io.err("The request could not be sent to the service: " + why + "\n");
      return kTestNotAcknowledgedExit;
  }

  const std::optional<device::TestOutcome> outcome = WaitForOutcome(io, before);
  if (!outcome) {
    io.err(std::string("No outcome from the service within ") + std::to_string(kTestOutcomeWaitMs / 1000) +
           " s: the " + what + " may not have been sent; see the service's log.\n");
    return kTestNotAcknowledgedExit;
  }
  switch (outcome->result) {
    case device::TestResult::kOk:
      io.out(std::string("The board acknowledged the ") + what + ".\n");
      return kTestAcknowledgedExit;
    case device::TestResult::kFail:
      io.err(std::string("The board did not acknowledge the ") + what + ".\n");
      return kTestNotAcknowledgedExit;
    case device::TestResult::kDropped:
      io.err(std::string("The service dropped the ") + what + ": " + outcome->why + ".\n");
      return kTestNotAcknowledgedExit;
  }
  return kTestNotAcknowledgedExit;
}

int RunSystemTestCommand(const std::vector<std::string>& args) {
  platform::StateStore& state = platform::SystemStateStore();
  TestCommandIo io{
      platform::SystemClock(),
      [](std::uint32_t code, std::string& why) { return platform::SendUserControl(kServiceName, code, why); },
      [&state] { return state.Get(device::kTestOutcomeName); },
      []() -> std::optional<std::string> {
        std::string line;
        if (!std::getline(std::cin, line)) return std::nullopt;
        return line;
      },
      [](const std::string& text) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
      },
      [](const std::string& text) {
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
      },
  };
  return RunTestCommand(args, io);
}

}  // namespace qov::service
