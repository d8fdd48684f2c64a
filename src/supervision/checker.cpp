#include "supervision/checker.h"

#include <algorithm>
#include <utility>

#include "supervision/check_address.h"

namespace qov::supervision {

TOSMonitorThread::TOSMonitorThread(CheckerContext ctx) : ctx_(std::move(ctx)) {}

void TOSMonitorThread::Execute() {
  while (!Terminated()) {
    if (platform::IsPast(ctx_.clock.NowMs(), next_check_)) RunCheckCycle();
    if (platform::IsPast(ctx_.clock.NowMs(), next_program_check_)) {
      next_program_check_ = platform::DeadlineAfterSeconds(ctx_.clock.NowMs(), ctx_.params.program_ctrl_check_period_s);
      if (ctx_.program_control_step) ctx_.program_control_step();
    }
    ctx_.clock.SleepMs(100);
  }
}

void TOSMonitorThread::RunCheckCycle() {
  const config::TParamRec& p = ctx_.params;
  // The outcome of the previous cycle picks the period.
  const std::int64_t period_s = ctx_.flags.last_check_ok ? std::int64_t{p.check_ok_period_s} : p.check_fail_period_s;
  next_check_ = platform::DeadlineAfterSeconds(ctx_.clock.NowMs(), period_s);
  if (p.check_addr_count <= 0) return;

  if (ProbeAddresses()) {
    ctx_.flags.last_check_ok = true;
    ctx_.log.Write("ping ok");
  } else {
    CountFailure();
    ctx_.flags.last_check_ok = false;
    ctx_.flags.connection_up = false;  // the supervisor redials
    ctx_.log.Write("ping fail");
  }
  Escalate();
}

bool TOSMonitorThread::ProbeAddresses() {
  const config::TParamRec& p = ctx_.params;
  const std::int32_t count = std::min(p.check_addr_count, config::kMaxCheckAddrCount);
  const auto timeout_ms = static_cast<std::uint32_t>(p.check_wait_resp_s) * 1000u;
  for (std::int32_t i = 0; i < count; ++i) {
    const CheckAddress a = ParseCheckAddress(p.check_addr[static_cast<std::size_t>(i)]);
    const bool answered =
        a.method == ProbeMethod::kHttp ? ctx_.probes.Http(a.target) : ctx_.probes.Icmp(a.target, timeout_ms);
    if (answered) return true;
  }
  return false;
}

void TOSMonitorThread::CountFailure() {
  // The first failure after a success starts the count at 0, not 1.
  if (ctx_.flags.last_check_ok) {
    fail_counter_ = 0;
  } else {
    ++fail_counter_;
  }
}

void TOSMonitorThread::Escalate() {
  const config::TParamRec& p = ctx_.params;
  if (fail_counter_ >= p.check_fail_loop_count) {
    fail_counter_ = 0;
    if (p.reset_modem) {
      RequestModemReset();
      ++modem_reset_counter_;
    } else if (p.reset_comp) {
      modem_reset_counter_ = 0;
      RequestComputerReset();
    }
  }
  if (modem_reset_counter_ > p.check_fail_loop_count_before_reset_comp && p.reset_comp) {
    modem_reset_counter_ = 0;
    RequestComputerReset();
  }
}

void TOSMonitorThread::RequestModemReset() {
  if (ctx_.control) ctx_.control->modem_reset_request = true;
}

void TOSMonitorThread::RequestComputerReset() {
  if (ctx_.control) ctx_.control->pc_reset_request = true;
}

}  // namespace qov::supervision
