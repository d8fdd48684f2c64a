// Stands in for a service run's workers under the supervisor: records when
// each start was asked for, can refuse the first creations as a system out
// of threads would, closes its gate as the stop handler does, and reports a
// stuck worker as the test says.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "supervision/workers.h"

namespace qov::test {

class FakeWorkers final : public supervision::Workers {
 public:
  explicit FakeWorkers(platform::Clock& clock) : clock_(clock) {}

  supervision::StartOutcome StartControlThread(std::string& error) override {
    return Start(control_attempts, control_refusals, control_starts, error);
  }
  supervision::StartOutcome StartChecker(std::string& error) override {
    return Start(checker_attempts, checker_refusals, checker_starts, error);
  }
  const char* StuckWorker(platform::Tick now) override { return stuck ? stuck(now) : nullptr; }

  // When a creation was tried (while the gate was open), and when the
  // worker began to run (once at most).
  std::vector<platform::Tick> control_attempts, checker_attempts;
  std::vector<platform::Tick> control_starts, checker_starts;
  // Creations to refuse before one succeeds.
  int control_refusals = 0, checker_refusals = 0;
  bool gate_open = true;
  std::function<const char*(platform::Tick)> stuck;

 private:
  supervision::StartOutcome Start(std::vector<platform::Tick>& attempts, int& refusals,
                                  std::vector<platform::Tick>& started, std::string& error) {
    if (!gate_open) return supervision::StartOutcome::kStopping;
    if (!started.empty()) return supervision::StartOutcome::kRunning;
    attempts.push_back(clock_.NowMs());
    if (refusals > 0) {
      --refusals;
      error = "no threads left";
      return supervision::StartOutcome::kFailed;
    }
    started.push_back(clock_.NowMs());
    return supervision::StartOutcome::kRunning;
  }

  platform::Clock& clock_;
};

}  // namespace qov::test
