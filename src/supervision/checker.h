// The connectivity checker: periodic check cycles over the check addresses,
// escalation to modem and computer resets, and the program-control step.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <limits>
#include <string>
#include <vector>

#include "config/events.h"
#include "config/log.h"
#include "config/param_rec.h"
#include "device/reset_requests.h"
#include "metrics/metrics.h"
#include "platform/clock.h"
#include "platform/stop_request.h"
#include "platform/worker_thread.h"
#include "supervision/reset_history.h"
#include "supervision/run_flags.h"

namespace qov::supervision {

// What one probe found: an answer, or in plain words why none came ("" when
// the stop cut it short).
struct ProbeResult {
  bool answered = false;
  std::string reason;
};

// The two probes a check address can name. Each gives up, as a failure,
// soon after `stop` is set, even while the system call behind it still runs.
class Probes {
 public:
  virtual ~Probes() = default;
  virtual ProbeResult Http(const std::string& target, platform::StopRequest& stop) = 0;
  virtual ProbeResult Icmp(const std::string& host, std::uint32_t timeout_ms, platform::StopRequest& stop) = 0;
};

// Bound of one HTTP probe's send and receive (and connect, where the system
// honours it). Without it a server that accepts and never answers would hold
// the checker for good.
inline constexpr std::uint32_t kHttpProbeTimeoutMs = 30000;

// The echo time-out for `check_wait_resp_s`: seconds bounded to 1 ... 3600,
// so that no stored value can stall a cycle for days.
std::uint32_t EchoTimeoutMs(std::int32_t check_wait_resp_s);

struct CheckerContext {
  platform::Clock& clock;
  config::Log& log;
  const config::TParamRec& params;
  RunFlags& flags;
  // Reset requests go here; may be null when no control thread exists.
  device::ResetRequests* control;
  Probes& probes;
  // One program-control step.
  std::function<void(const std::atomic<bool>& stop)> program_control_step;
  // Where computer resets are recorded and counted; may be null.
  ResetHistory* history = nullptr;
  // Where failing checks and reset requests are reported; may be null.
  config::Events* events = nullptr;
  // Cycles and reset requests are counted here; may be null.
  metrics::Metrics* metrics = nullptr;
};

class TOSMonitorThread final : public platform::WorkerThread {
 public:
  explicit TOSMonitorThread(CheckerContext ctx);
  ~TOSMonitorThread() override { Join(); }

 protected:
  void Execute() override;

 private:
  void RunCheckCycle();
  // The next cycle's time and the cycles left before each reset, for the
  // status record; wakes the supervisor, which writes it.
  void PublishOutlook();
  // What the status record last heard of the checks.
  struct PublishedOutlook {
    bool checked;  // a cycle has ended
    bool ok;
    std::int32_t failed_in_row;
    std::int32_t modem_left, computer_left;
    bool operator==(const PublishedOutlook&) const = default;
  };
  std::optional<PublishedOutlook> published_;
  platform::Tick NextAfterSeconds(std::int64_t period_s);
  // The longest a cycle and a program-control step take while the system's
  // calls return: the bound of this thread's promise to make progress.
  std::int64_t LongestPassMs() const;
  // True when an address answered; nothing when the terminate request cut the
  // cycle short. `reasons` gets a line for each address that failed.
  std::optional<bool> ProbeAddresses(std::vector<std::string>& reasons);
  void CountFailure();
  void Escalate();
  void RequestModemReset();
  void RequestComputerReset();
  // "N failed cycles in a row, M modem resets": why a reset is asked for.
  std::string EscalationReason() const;
  // What the reboot-loop guard counts: the stored resets of the last 24 h and
  // this run's dry-run ones.
  int ComputerResetsInLastDay();

  CheckerContext ctx_;
  // Thread-local state of the body; both deadlines start due.
  std::int32_t fail_counter_ = 0;
  // A failure has been counted since the last passing cycle (or the start):
  // failures while a repair settles are not, so the first counted one
  // starts the count at 0 even after uncounted ones.
  bool counting_ = false;
  std::int32_t modem_reset_counter_ = 0;
  // Since the last passing cycle: the reason a computer reset gives.
  std::int32_t failed_in_row_ = 0;
  std::int32_t modem_resets_in_row_ = 0;
  // The failing-checks event of the current run of failures went out.
  bool failing_reported_ = false;
  // The computer resets a dry run let pass, on this clock. They count
  // against the dry run's own daily allowance, so it shows the guard at
  // work, but are never stored: the stored record is that of real resets,
  // whose allowance a dry run must not use up, and from which the next
  // start reports the last reset as having happened.
  std::vector<platform::Tick> dry_run_resets_;
  platform::Tick next_check_ = kDueAtOnce;
  platform::Tick next_program_check_ = kDueAtOnce;
  // A period of 0 repeats its step after this pause, not back to back.
  static constexpr std::int64_t kMinPauseMs = 100;
  static constexpr platform::Tick kDueAtOnce = std::numeric_limits<platform::Tick>::min();
};

}  // namespace qov::supervision
