// "-TEST MODEM" and "-TEST COMPUTER": commissioning. Asks the running
// service to send that reset to the board now and waits for the outcome the
// control thread records in the service's state, so that the exit status
// says whether the board acknowledged it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/service_control.h"

namespace qov::service {

inline constexpr int kTestAcknowledgedExit = 0;
// Not acknowledged, dropped by the service, refused, not confirmed, or no outcome in time.
inline constexpr int kTestNotAcknowledgedExit = 1;
inline constexpr int kTestUsageExit = 2;
inline constexpr int kTestServiceNotRunningExit = 3;

// How long the command waits for the service's outcome: longer than the
// computer reset's second and an exchange with all its attempts.
inline constexpr std::int64_t kTestOutcomeWaitMs = 15'000;
// The outcome is read again this often: a short-lived command, not a service worker.
inline constexpr std::int64_t kTestOutcomeRereadMs = 100;

struct TestCommandIo {
  platform::Clock& clock;
  // Sends the control code to the service.
  std::function<platform::ControlSent(std::uint32_t code, std::string& why)> send;
  // The service's last recorded outcome, as stored.
  std::function<std::optional<std::string>()> read_outcome;
  // One line typed on the console; nothing at the end of the input.
  std::function<std::optional<std::string>()> read_line;
  std::function<void(const std::string&)> out;
  std::function<void(const std::string&)> err;
};

// The words after the program's name; the exit status as above.
int RunTestCommand(const std::vector<std::string>& args, TestCommandIo& io);

// The same against the system: the service, its state, the console.
int RunSystemTestCommand(const std::vector<std::string>& args);

}  // namespace qov::service
