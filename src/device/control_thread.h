// The thread that owns the watchdog device: opens the port, identifies the
// device, starts its timer, feeds it life messages, carries reset requests to
// it and stops its timer at the end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "config/events.h"
#include "config/log.h"
#include "config/param_rec.h"
#include "device/com_port.h"
#include "device/link_protocol.h"
#include "device/receive_thread.h"
#include "device/reset_requests.h"
#include "device/test_outcome.h"
#include "metrics/metrics.h"
#include "platform/clock.h"
#include "platform/local_time.h"
#include "platform/state_store.h"
#include "platform/worker_thread.h"

namespace qov::device {

struct DeviceContext {
  platform::Clock& clock;
  config::Log& log;
  const config::TParamRec& params;
  TComPort& port;
  RcvMailbox& mailbox;
  // Whether the system lists a port name; ComPortPresent by default.
  std::function<bool(const std::string&)> port_present = ComPortPresent;
  // Makes the receive thread for a freshly opened port; a running one by default.
  std::function<std::unique_ptr<TComRcvThread>(platform::Clock&, TComPort&, RcvMailbox&)> make_receiver =
      StartReceiveThread;
  // Where the board's comings and goings are reported; may be null.
  config::Events* events = nullptr;
  // Device state, life messages and acknowledgements are counted here; may be null.
  metrics::Metrics* metrics = nullptr;
  // Where the outcome of an operator's test reset is kept for the command
  // that asked; may be null (nothing is kept).
  platform::StateStore* state = nullptr;
  // The wall clock in seconds, for the outcome's time.
  std::function<std::int64_t()> utc_now = platform::UtcNowSeconds;
};

class TQOVControlThread final : public platform::WorkerThread, public ResetRequests {
 public:
  explicit TQOVControlThread(DeviceContext ctx);
  // Ends this thread, then frees the receive thread it started.
  ~TQOVControlThread() override;

  // The checker's requests: each sets its flag and wakes this thread.
  void RequestModemReset() override;
  void RequestComputerReset() override;
  // An operator's test ("-TEST MODEM", "-TEST COMPUTER"), any thread: sent
  // at once while the board runs, dropped at once while it does not, and
  // the outcome recorded in the state. Never part of the checker's
  // escalation nor of the reboot-loop guard's count.
  void RequestTestModemReset();
  void RequestTestComputerReset();

  // Set by the checker, taken and cleared by this thread while the device runs.
  std::atomic<bool> modem_reset_request{false};
  std::atomic<bool> pc_reset_request{false};
  // Set by the service's control handler for an operator's test.
  std::atomic<bool> test_modem_request{false};
  std::atomic<bool> test_pc_request{false};

  // Written by this thread only; read by tests after the body has ended.
  bool device_running() const { return device_running_; }

  // The current receive thread, or null before the first open. The stop
  // handler stops it once this thread has ended; it stays owned here.
  TComRcvThread* Receiver();

 protected:
  void Execute() override;

 private:
  // A reset request the checker raised and this thread has not yet taken.
  struct PendingRequest {
    std::atomic<bool>& flag;
    const char* dropped_text;  // the log line's start: "<what> dropped"
    // When this thread first saw the request while the board was away.
    std::optional<platform::Tick> waiting_since;
  };

  // One pass in each state.
  void BringDeviceUp();
  // Sleeps until the next life message, a request or the stop; after a
  // pass that left the board away, only for the pause before the next try.
  void WaitForWork();
  // When the next life message is due, counted from now.
  platform::Tick NextLifeDeadline();
  void ServeRunningDevice();
  // True when the board acknowledged. `test`: an operator's test, which
  // goes out even in a dry run.
  bool SendModemReset(bool test);
  TestResult SendComputerReset(bool test);
  void ServeTestRequests();
  // While the board is away or at the stop: test requests end at once, dropped for `why`.
  void DropTestRequests(const char* why);
  void RecordTest(TestKind kind, TestResult result, const std::string& why = "");
  // With reset_dry_run set, the one place a reset command is held back: logs
  // `skipped_text` instead, counts the reset as sent and returns true.
  bool SkippedInDryRun(const char* skipped_text, metrics::Counter metrics::Metrics::*counter);
  // While the board is away: a request it could not take within the next
  // check period is stale (the checks may pass again by then) and dropped.
  void DropStaleRequest(PendingRequest& request);
  // At the stop: whatever is still asked for is dropped, the timer stop goes first.
  void DropAtStop(PendingRequest& request);
  // True when the port is open and a fresh receive thread reads it.
  bool OpenDevicePort();
  void StopReceiver();
  // Reports the board missing or silent, once until it runs again.
  void ReportTrouble(config::EventId id, const std::string& reason);
  void WaitSeconds(std::uint32_t seconds) { platform::WaitSeconds(ctx_.clock, seconds, Stop()); }

  DeviceContext ctx_;
  DeviceLink link_;
  // Replaced by this thread after every open; read by the stop handler.
  std::mutex receiver_mutex_;
  std::unique_ptr<TComRcvThread> receiver_;
  bool device_running_ = false;
  // From the first timer start sent until a timer stop is acknowledged.
  bool timer_may_run_ = false;
  bool trouble_reported_ = false;
  // Why the last OpenDevicePort failed, where the system said.
  std::string open_error_;
  platform::Tick next_life_tick_ = 0;
  PendingRequest modem_pending_{modem_reset_request, "modem reset dropped", std::nullopt};
  PendingRequest pc_pending_{pc_reset_request, "reset pc dropped", std::nullopt};
};

}  // namespace qov::device
