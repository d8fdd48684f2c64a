#include "supervision/checker.h"

#include <algorithm>
#include <utility>

#include "supervision/check_address.h"
#include "supervision/escalation_outlook.h"

namespace qov::supervision {

TOSMonitorThread::TOSMonitorThread(CheckerContext ctx) : ctx_(std::move(ctx)) {}

std::uint32_t EchoTimeoutMs(std::int32_t check_wait_resp_s) {
  constexpr std::int64_t kMinS = 1;
  constexpr std::int64_t kMaxS = 3600;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(check_wait_resp_s, kMinS, kMaxS) * 1000);
}

void TOSMonitorThread::Execute() {
  PromiseProgressBy(platform::DeadlineAfter(ctx_.clock.NowMs(), LongestPassMs()));
  PublishOutlook();
  while (!Terminated()) {
    if (platform::IsDue(ctx_.clock.NowMs(), next_check_)) {
      RunCheckCycle();
      PublishOutlook();
    }
    if (!Terminated() && platform::IsDue(ctx_.clock.NowMs(), next_program_check_)) {
      next_program_check_ = NextAfterSeconds(ctx_.params.program_ctrl_check_period_s);
      if (ctx_.program_control_step) ctx_.program_control_step(TerminateFlag());
    }
    const platform::Tick next = std::min(next_check_, next_program_check_);
    PromiseProgressBy(platform::DeadlineAfter(std::max(ctx_.clock.NowMs(), next), LongestPassMs()));
    Stop().WaitUntil(ctx_.clock, next);
  }
}

std::int64_t TOSMonitorThread::LongestPassMs() const {
  // Each probe is bounded by its own time-out (an HTTP request's, or the
  // echo's); the name look-up before it by the system's resolver. The slack
  // covers both and the program-control step.
  constexpr std::int64_t kProbeSlackMs = 60'000;
  const config::TParamRec& p = ctx_.params;
  const std::int64_t count = std::clamp<std::int64_t>(p.check_addr_count, 0, config::kMaxCheckAddrCount);
  const std::int64_t probe_ms = std::max<std::int64_t>(kHttpProbeTimeoutMs, EchoTimeoutMs(p.check_wait_resp_s));
  return count * (probe_ms + kProbeSlackMs) + kProbeSlackMs;
}

platform::Tick TOSMonitorThread::NextAfterSeconds(std::int64_t period_s) {
  // A period of 0 (or less) repeats its step after a short pause, not back to back.
  return platform::DeadlineAfter(ctx_.clock.NowMs(), std::max(period_s * 1000, kMinPauseMs));
}

void TOSMonitorThread::RunCheckCycle() {
  const config::TParamRec& p = ctx_.params;
  // The outcome of the previous cycle picks the period.
  const std::int64_t period_s = ctx_.flags.last_check_ok ? std::int64_t{p.check_ok_period_s} : p.check_fail_period_s;
  next_check_ = NextAfterSeconds(period_s);
  if (p.check_addr_count <= 0) return;

  std::vector<std::string> reasons;
  const std::optional<bool> answered = ProbeAddresses(reasons);
  // A cycle cut short by the stop says nothing about the link: it is neither
  // logged nor counted, and it raises no reset.
  if (!answered) return;
  if (*answered) {
    ctx_.flags.last_check_ok = true;
    counting_ = false;
    if (failing_reported_) {
      config::Report(ctx_.events, config::EventId::kChecksPassAgain, {std::to_string(failed_in_row_)});
    }
    failing_reported_ = false;
    failed_in_row_ = 0;
    modem_resets_in_row_ = 0;
    metrics::RecordCheckCycle(ctx_.metrics, true, failed_in_row_, ctx_.clock.NowMs());
    ctx_.log.Write("ping ok");
    return;
  }
  ++failed_in_row_;
  metrics::RecordCheckCycle(ctx_.metrics, false, failed_in_row_, ctx_.clock.NowMs());
  // Once per run of failures, when it reaches the escalation count.
  if (failed_in_row_ == std::max(1, p.check_fail_loop_count)) {
    config::Report(ctx_.events, config::EventId::kChecksFailing, {std::to_string(failed_in_row_)});
    failing_reported_ = true;
  }
  // While a repair settles (a modem coming back, a fresh dial) failures are
  // logged but not counted, so the repair is not repeated while it boots.
  const bool settling = ctx_.flags.Settling(ctx_.clock.NowMs());
  if (!settling) CountFailure();
  ctx_.flags.last_check_ok = false;
  if (p.check_log_details) {
    for (const std::string& line : reasons) ctx_.log.Write(line);
  }
  ctx_.log.Write("ping fail");
  // Only a failed cycle can escalate: with a threshold of 0 or less, or a
  // negative modem-reset allowance, a passing check must not reset anything.
  if (!settling) Escalate();
  // After the escalation, so that the redial it causes is the one that
  // follows a modem reset.
  ctx_.flags.ConnectionLost();  // the supervisor redials
}

void TOSMonitorThread::PublishOutlook() {
  if (!ctx_.metrics) return;
  constexpr auto r = std::memory_order_relaxed;
  const CyclesLeft left =
      CyclesBeforeResets(ctx_.params, counting_, fail_counter_, modem_reset_counter_);
  ctx_.metrics->next_check_tick.store(std::max(ctx_.clock.NowMs(), next_check_), r);
  ctx_.metrics->modem_reset_in_cycles.store(left.modem, r);
  ctx_.metrics->computer_reset_in_cycles.store(left.computer, r);
  // The supervisor rewrites the status record when what it says changed;
  // a steady run of passing cycles wakes nobody.
  const bool checked = ctx_.metrics->last_check_tick.load(r) != metrics::Metrics::kNever;
  const PublishedOutlook now{checked, ctx_.flags.last_check_ok.load(), failed_in_row_, left.modem, left.computer};
  if (published_ && *published_ == now) return;
  published_ = now;
  ctx_.metrics->StatusChanged();
}

std::optional<bool> TOSMonitorThread::ProbeAddresses(std::vector<std::string>& reasons) {
  const config::TParamRec& p = ctx_.params;
  const std::int32_t count = std::min(p.check_addr_count, config::kMaxCheckAddrCount);
  const std::uint32_t timeout_ms = EchoTimeoutMs(p.check_wait_resp_s);
  for (std::int32_t i = 0; i < count; ++i) {
    if (Terminated()) return std::nullopt;
    const CheckAddress a = ParseCheckAddress(p.check_addr[static_cast<std::size_t>(i)]);
    const bool http = a.method == ProbeMethod::kHttp;
    const ProbeResult r =
        http ? ctx_.probes.Http(a.target, Stop()) : ctx_.probes.Icmp(a.target, timeout_ms, Stop());
    if (Terminated()) return std::nullopt;
    if (r.answered) return true;
    reasons.push_back("check " + std::to_string(i) + (http ? " HTTP " : " ICMP ") + a.target + ": " + r.reason);
  }
  return false;
}

void TOSMonitorThread::CountFailure() {
  // The first counted failure after a success starts the count at 0, not 1.
  if (!counting_) {
    fail_counter_ = 0;
    counting_ = true;
  } else {
    ++fail_counter_;
  }
}

void TOSMonitorThread::Escalate() {
  const config::TParamRec& p = ctx_.params;
  bool computer_asked = false;
  if (fail_counter_ >= p.check_fail_loop_count) {
    fail_counter_ = 0;
    if (p.reset_modem) {
      RequestModemReset();
      ++modem_reset_counter_;
    } else if (p.reset_comp) {
      modem_reset_counter_ = 0;
      RequestComputerReset();
      computer_asked = true;
    }
  }
  // One computer reset a cycle: a second would be recorded (and counted
  // against the day's allowance) twice.
  if (!computer_asked && modem_reset_counter_ > p.check_fail_loop_count_before_reset_comp && p.reset_comp) {
    modem_reset_counter_ = 0;
    RequestComputerReset();
  }
}

int TOSMonitorThread::ComputerResetsInLastDay() {
  const platform::Tick now = ctx_.clock.NowMs();
  std::erase_if(dry_run_resets_, [now](platform::Tick at) {
    return platform::IsDue(now, platform::DeadlineAfterSeconds(at, kResetWindowSeconds));
  });
  const int stored = ctx_.history ? ctx_.history->CountLastDay() : 0;
  return stored + static_cast<int>(dry_run_resets_.size());
}

std::string TOSMonitorThread::EscalationReason() const {
  return std::to_string(failed_in_row_) + " failed cycles in a row, " + std::to_string(modem_resets_in_row_) +
         " modem resets";
}

void TOSMonitorThread::RequestModemReset() {
  // The reason counts the modem resets before this one.
  if (ctx_.control) config::Report(ctx_.events, config::EventId::kModemResetRequested, {EscalationReason()});
  ++modem_resets_in_row_;
  ctx_.flags.ModemResetRequested(ctx_.clock.NowMs(), ctx_.params.check_settle_after_reset_s);
  // Counted by the control thread once the board took it.
  if (ctx_.control) ctx_.control->RequestModemReset();
}

void TOSMonitorThread::RequestComputerReset() {
  if (!ctx_.control) return;
  // The guard against a reboot loop: beyond the day's allowance the reset
  // is not sent; modem resets go on where they are enabled.
  const std::int32_t allowed = ctx_.params.reset_comp_max_per_day;
  if (allowed > 0) {
    const int sent = ComputerResetsInLastDay();
    if (sent >= allowed) {
      ctx_.log.Write("reset pc suppressed (" + std::to_string(sent) + " in 24 h)");
      metrics::Count(ctx_.metrics, &metrics::Metrics::computer_resets_suppressed);
      config::Report(ctx_.events, config::EventId::kComputerResetSuppressed, {std::to_string(sent)});
      return;
    }
  }
  // Stored and reported before the command can go out: the reset ends this run.
  const std::string reason = EscalationReason();
  if (ctx_.params.reset_dry_run) {
    // Kept only while a guard counts them, so never more than its allowance.
    if (allowed > 0) dry_run_resets_.push_back(ctx_.clock.NowMs());
  } else if (const auto failure = ctx_.history ? ctx_.history->Record(reason) : std::nullopt) {
    // A record that did not reach the disk is told, and the reset goes out
    // all the same: the link is down either way.
    ctx_.log.Write("reset history write fail: " + *failure);
    config::Report(ctx_.events, config::EventId::kResetRecordFailed, {*failure});
    metrics::Count(ctx_.metrics, &metrics::Metrics::state_write_failures);
  }
  config::Report(ctx_.events, config::EventId::kComputerResetRequested, {reason});
  // Counted by the control thread once the board took it.
  ctx_.control->RequestComputerReset();
}

}  // namespace qov::supervision
