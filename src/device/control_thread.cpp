#include "device/control_thread.h"

#include <algorithm>

#include "platform/serial_port.h"

namespace qov::device {
namespace {

constexpr std::int32_t kDeviceBaud = 9600;
constexpr int kOpenAttempts = 5;
constexpr std::uint32_t kOpenRetryWaitS = 5;
constexpr std::uint32_t kReceiverStopWaitMs = 1000;
// Between two tries to bring the board up, and the shortest gap between
// two life messages.
constexpr std::int64_t kRetryPauseMs = 50;
// Longer than any pass takes while the board's driver answers: the port-open
// retries, the version request, a life message and both resets with all
// their attempts. A pass past it is stuck in a driver call.
constexpr std::int64_t kLongestPassMs = 60'000;

}  // namespace

TQOVControlThread::TQOVControlThread(DeviceContext ctx)
    : ctx_(std::move(ctx)),
      link_(ctx_.clock, ctx_.port, ctx_.mailbox, Stop(), ctx_.metrics ? &ctx_.metrics->last_ack_tick : nullptr) {}

void TQOVControlThread::RequestModemReset() {
  modem_reset_request.store(true);
  Wake();
}

void TQOVControlThread::RequestComputerReset() {
  pc_reset_request.store(true);
  Wake();
}

void TQOVControlThread::RequestTestModemReset() {
  test_modem_request.store(true);
  Wake();
}

void TQOVControlThread::RequestTestComputerReset() {
  test_pc_request.store(true);
  Wake();
}

TQOVControlThread::~TQOVControlThread() {
  Join();
  // Freeing waits for the receive thread's end, which its terminate request
  // brings within one pass.
  std::lock_guard lock(receiver_mutex_);
  receiver_.reset();
}

TComRcvThread* TQOVControlThread::Receiver() {
  std::lock_guard lock(receiver_mutex_);
  return receiver_.get();
}

void TQOVControlThread::Execute() {
  device_running_ = false;
  link_.exchange_busy = false;
  modem_reset_request = false;
  pc_reset_request = false;
  modem_pending_.waiting_since.reset();
  pc_pending_.waiting_since.reset();
  next_life_tick_ = 0;
  PromiseProgressBy(platform::DeadlineAfter(ctx_.clock.NowMs(), kLongestPassMs));

  while (!Terminated()) {
    if (!device_running_) {
      BringDeviceUp();
    } else {
      ServeRunningDevice();
    }
    if (!device_running_) {
      DropStaleRequest(modem_pending_);
      DropStaleRequest(pc_pending_);
      DropTestRequests("board not running");
    }
    if (ctx_.metrics) ctx_.metrics->SetDeviceRunning(device_running_);
    WaitForWork();
  }

  // A failed life message or timer start does not stop a board's timer:
  // one that is still there would reset the computer after the service
  // stopped, so the stop goes out whenever a timer start has.
  if (device_running_ || timer_may_run_) {
    if (link_.SendDeviceCommand(CMD_TIMER_STOP)) {
      ctx_.log.Write("QOV timer stop ok");
      device_running_ = false;
      timer_may_run_ = false;
    } else {
      ctx_.log.Write("QOV timer stop fail");
    }
  }
  DropAtStop(modem_pending_);
  DropAtStop(pc_pending_);
  DropTestRequests("service stopping");
  if (ctx_.metrics) ctx_.metrics->SetDeviceRunning(device_running_);
  // The port stays open and the receive thread keeps running: the stop
  // handler takes them down after this thread.
}

platform::Tick TQOVControlThread::NextLifeDeadline() {
  // A period shorter than the pause (0 above all) sends once per pause.
  return platform::DeadlineAfter(ctx_.clock.NowMs(), std::max<std::int64_t>(ctx_.params.life_beakon_period_ms, kRetryPauseMs));
}

void TQOVControlThread::WaitForWork() {
  const platform::Tick now = ctx_.clock.NowMs();
  if (!device_running_) {
    const platform::Tick retry = platform::DeadlineAfter(now, kRetryPauseMs);
    PromiseProgressBy(platform::DeadlineAfter(retry, kLongestPassMs));
    platform::PauseUntil(ctx_.clock, retry, Stop());
    return;
  }
  // A request whose wake-up an exchange of this pass took is served now.
  if (modem_reset_request.load() || pc_reset_request.load() || test_modem_request.load() || test_pc_request.load()) {
    PromiseProgressBy(platform::DeadlineAfter(now, kLongestPassMs));
    return;
  }
  PromiseProgressBy(platform::DeadlineAfter(std::max(now, next_life_tick_), kLongestPassMs));
  Stop().WaitUntil(ctx_.clock, next_life_tick_);
}

void TQOVControlThread::BringDeviceUp() {
  const std::string& name = ctx_.params.qov_com_port;
  if (!OpenDevicePort()) {
    ctx_.log.Write("QOV COM port open fail (" + name + ")");
    if (!open_error_.empty()) ctx_.log.Write("QOV COM port open fail reason: " + open_error_);
    ReportTrouble(config::EventId::kDeviceNotFound, "port open fail");
    return;
  }
  ctx_.log.Write("QOV COM port open ok (" + name + ")");
  if (!link_.CheckDeviceVersion()) {
    // One cut short by the stop proves nothing about the device.
    if (!Terminated()) {
      ctx_.log.Write("QOV version fail");
      ReportTrouble(config::EventId::kDeviceNotFound, "no answer to the version request");
    }
    return;
  }
  ctx_.log.Write("QOV version ok");
  timer_may_run_ = true;
  if (!link_.SendDeviceCommand(CMD_TIMER_INIT)) {
    ctx_.log.Write("QOV timer init fail");
    ReportTrouble(config::EventId::kDeviceNotFound, "timer init fail");
    return;
  }
  ctx_.log.Write("QOV timer init ok");
  next_life_tick_ = NextLifeDeadline();
  device_running_ = true;
  if (trouble_reported_) config::Report(ctx_.events, config::EventId::kDeviceFoundAgain, {name});
  trouble_reported_ = false;
}

void TQOVControlThread::ServeRunningDevice() {
  if (platform::IsDue(ctx_.clock.NowMs(), next_life_tick_)) {
    // Each deadline counts from the actual send; lateness is not made up.
    next_life_tick_ = NextLifeDeadline();
    // The stop cuts a life message short: the timer stop follows at once.
    const bool sent = link_.SendDeviceCommandUntilStop(CMD_LIFE_MESSAGE);
    if (!sent && Terminated()) return;
    if (sent) {
      ctx_.log.Write("Life message send ok");
      metrics::Count(ctx_.metrics, &metrics::Metrics::life_messages_ok);
    } else {
      ctx_.log.Write("Life message send fail");
      metrics::Count(ctx_.metrics, &metrics::Metrics::life_messages_fail);
      device_running_ = false;
      ReportTrouble(config::EventId::kDeviceNotAnswering, "");
    }
  }
  // Reset requests still go out in the pass whose life message failed, but
  // not once the stop is asked for.
  if (Terminated()) return;
  if (modem_reset_request.exchange(false)) SendModemReset(false);
  modem_pending_.waiting_since.reset();
  if (Terminated()) return;
  if (pc_reset_request.exchange(false)) SendComputerReset(false);
  pc_pending_.waiting_since.reset();
  ServeTestRequests();
}

void TQOVControlThread::ServeTestRequests() {
  if (Terminated()) return;
  if (test_modem_request.exchange(false)) {
    ctx_.log.Write("modem reset requested by test");
    config::Report(ctx_.events, config::EventId::kModemResetRequested, {"requested by test"});
    RecordTest(TestKind::kModem, SendModemReset(true) ? TestResult::kOk : TestResult::kFail);
  }
  if (Terminated()) return;
  if (test_pc_request.exchange(false)) {
    ctx_.log.Write("reset pc requested by test");
    config::Report(ctx_.events, config::EventId::kComputerResetRequested, {"requested by test"});
    const TestResult result = SendComputerReset(true);
    RecordTest(TestKind::kComputer, result, result == TestResult::kDropped ? "service stopping" : "");
  }
}

void TQOVControlThread::DropTestRequests(const char* why) {
  if (test_modem_request.exchange(false)) {
    ctx_.log.Write("modem reset requested by test");
    ctx_.log.Write(std::string("modem reset dropped: ") + why);
    RecordTest(TestKind::kModem, TestResult::kDropped, why);
  }
  if (test_pc_request.exchange(false)) {
    ctx_.log.Write("reset pc requested by test");
    ctx_.log.Write(std::string("reset pc dropped: ") + why);
    RecordTest(TestKind::kComputer, TestResult::kDropped, why);
  }
}

void TQOVControlThread::RecordTest(TestKind kind, TestResult result, const std::string& why) {
  if (!ctx_.state) return;
  // A rare, operator-made write: the command that asked waits for it.
  if (const auto failure = RecordTestOutcome(*ctx_.state, kind, result, ctx_.utc_now(), why)) {
    ctx_.log.Write("test outcome write fail: " + *failure);
    metrics::Count(ctx_.metrics, &metrics::Metrics::state_write_failures);
  }
}

bool TQOVControlThread::SkippedInDryRun(const char* skipped_text, metrics::Counter metrics::Metrics::*counter) {
  if (!ctx_.params.reset_dry_run) return false;
  // Counted as if the board had taken it, so metrics show what a live run would.
  ctx_.log.Write(skipped_text);
  metrics::Count(ctx_.metrics, counter);
  return true;
}

// An operator's test is an explicit request to prove the board: it goes
// out even in a dry run, which holds back only the checker's escalations.
bool TQOVControlThread::SendModemReset(bool test) {
  if (!test && SkippedInDryRun("modem reset skipped (dry run)", &metrics::Metrics::modem_resets)) return true;
  if (link_.SendDeviceCommand(CMD_MODEM_RESET)) {
    ctx_.log.Write("modem reset ok");
    metrics::Count(ctx_.metrics, &metrics::Metrics::modem_resets);
    return true;
  }
  ctx_.log.Write("modem reset fail");
  return false;
}

TestResult TQOVControlThread::SendComputerReset(bool test) {
  // No second's wait either: it gives the log line time to reach the disk
  // before the machine goes down, which it does not here.
  if (!test && SkippedInDryRun("reset pc skipped (dry run)", &metrics::Metrics::computer_resets)) {
    return TestResult::kOk;
  }
  ctx_.log.Write("reset pc ok");
  WaitSeconds(1);
  if (Terminated()) {
    ctx_.log.Write("reset pc dropped: service stopping");
    return TestResult::kDropped;
  }
  if (link_.SendDeviceCommand(CMD_PC_RESET)) {
    metrics::Count(ctx_.metrics, &metrics::Metrics::computer_resets);
    return TestResult::kOk;
  }
  ctx_.log.Write("reset pc fail");
  return TestResult::kFail;
}

void TQOVControlThread::DropStaleRequest(PendingRequest& request) {
  if (!request.flag.load()) {
    request.waiting_since.reset();
    return;
  }
  const platform::Tick now = ctx_.clock.NowMs();
  if (!request.waiting_since) {
    request.waiting_since = now;
    return;
  }
  if (!platform::IsDue(now, platform::DeadlineAfterSeconds(*request.waiting_since, ctx_.params.check_fail_period_s))) {
    return;
  }
  request.waiting_since.reset();
  if (request.flag.exchange(false)) ctx_.log.Write(std::string(request.dropped_text) + ": board not running");
}

void TQOVControlThread::DropAtStop(PendingRequest& request) {
  request.waiting_since.reset();
  if (request.flag.exchange(false)) ctx_.log.Write(std::string(request.dropped_text) + ": service stopping");
}

void TQOVControlThread::ReportTrouble(config::EventId id, const std::string& reason) {
  // One event per spell of trouble; the board's return ends it.
  if (trouble_reported_) return;
  trouble_reported_ = true;
  config::Report(ctx_.events, id, {ctx_.params.qov_com_port, reason});
}

bool TQOVControlThread::OpenDevicePort() {
  const std::string& name = ctx_.params.qov_com_port;
  open_error_.clear();
  if (!ctx_.port_present(name)) {
    WaitSeconds(kOpenRetryWaitS);
    return false;
  }
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    // The old receive thread ends before its port is closed, so no read is
    // ever in flight on a handle being closed or reopened.
    StopReceiver();
    ctx_.port.Close();
    if (ctx_.port.Open(kDeviceBaud, platform::SerialDevicePath(name))) {
      auto fresh = ctx_.make_receiver(ctx_.clock, ctx_.port, ctx_.mailbox);
      std::lock_guard lock(receiver_mutex_);
      receiver_ = std::move(fresh);
      return true;
    }
    open_error_ = ctx_.port.OpenError();
    WaitSeconds(kOpenRetryWaitS);
  }
  WaitSeconds(kOpenRetryWaitS);
  return false;
}

void TQOVControlThread::StopReceiver() {
  std::unique_ptr<TComRcvThread> old;
  {
    std::lock_guard lock(receiver_mutex_);
    old = std::move(receiver_);
  }
  if (!old) return;
  old->RequestTerminate();
  old->WaitFor(kReceiverStopWaitMs);
  // Freeing waits for the thread's end without a limit.
}

}  // namespace qov::device
