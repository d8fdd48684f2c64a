// The supervisor's reports and host actions as settable functions; each
// defaults to reporting nothing and starting no process.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "supervision/supervisor.h"

namespace qov::test {

struct FakeRunReports final : supervision::RunReports {
  std::int64_t host_watchdog_period_ms = 0;
  std::function<void()> feed_host_watchdog = [] {};
  std::function<std::optional<platform::Tick>(bool)> publish_status = [](bool) {
    return std::optional<platform::Tick>();
  };
  std::function<std::optional<std::string>()> previous_reset_report = [] { return std::nullopt; };

  std::int64_t HostWatchdogPeriodMs() const override { return host_watchdog_period_ms; }
  void FeedHostWatchdog() override { feed_host_watchdog(); }
  std::optional<platform::Tick> PublishStatus(bool stopping) override { return publish_status(stopping); }
  std::optional<std::string> PreviousResetReport() override { return previous_reset_report(); }
};

struct FakeHostActions final : supervision::HostActions {
  std::function<void()> prime_system_load = [] {};
  std::function<std::optional<std::string>()> system_load_text = [] { return std::nullopt; };
  std::function<std::unique_ptr<platform::ChildProcess>(const std::string&)> start_process =
      [](const std::string&) -> std::unique_ptr<platform::ChildProcess> { return nullptr; };

  void PrimeSystemLoad() override { prime_system_load(); }
  std::optional<std::string> SystemLoadText() override { return system_load_text(); }
  std::unique_ptr<platform::ChildProcess> StartProcess(const std::string& command_line) override {
    return start_process(command_line);
  }
};

}  // namespace qov::test
