#include "sim/simulation.h"

#include <algorithm>
#include <typeinfo>

#include "config/log_writer.h"
#include "device/com_port.h"
#include "device/control_thread.h"
#include "device/receive_thread.h"
#include "metrics/metrics.h"
#include "service/run_workers.h"
#include "service/stop_sequence.h"
#include "supervision/checker.h"
#include "supervision/reset_history.h"
#include "supervision/run_flags.h"
#include "supervision/supervisor.h"

namespace qov::sim {
namespace {

constexpr std::int64_t kWallStart = 1'790'000'000;  // seconds, 2026
constexpr Tick kHour = 3'600'000;
constexpr Tick kMinute = 60'000;
// The stop handler's limits, as the service module sets them.
constexpr std::uint32_t kControlLimitMs = 5000;
constexpr std::uint32_t kWorkerLimitMs = 2000;
// A life message may come this much later than its period while the board
// answers: one pass's other work (the second before a computer reset, a
// reset exchange) and the scheduling pauses.
constexpr Tick kLifeSlackMs = 3000;

// The checker's reset requests on their way to the control thread, noted
// by the simulator as they are made.
class ResetTap final : public device::ResetRequests {
 public:
  ResetTap(Simulation& sim, device::ResetRequests* inner) : sim_(sim), inner_(inner) {}
  void RequestModemReset() override {
    sim_.OnResetRequest(false);
    if (inner_) inner_->RequestModemReset();
  }
  void RequestComputerReset() override {
    sim_.OnResetRequest(true);
    if (inner_) inner_->RequestComputerReset();
  }

 private:
  Simulation& sim_;
  device::ResetRequests* inner_;
};

// The checker's and the control thread's lines, seen by the simulator as
// they are written (the disk may take them much later, or never).
class LogTap final : public config::Log {
 public:
  LogTap(Simulation& sim, config::Log& inner) : sim_(sim), inner_(inner) {}
  void Write(std::string_view message) override {
    sim_.OnLogMessage(std::string(message));
    inner_.Write(message);
  }

 private:
  Simulation& sim_;
  config::Log& inner_;
};

// A stop step's wait for a thread's end, on virtual time: the thread being
// waited for needs its turns meanwhile.
class SimJoin final : public platform::Stoppable {
 public:
  SimJoin(SimScheduler& sched, platform::Stoppable* thread) : sched_(sched), thread_(thread) {}
  void RequestTerminate() override { thread_->RequestTerminate(); }
  bool WaitFor(std::uint32_t timeout_ms) override {
    const Tick deadline = sched_.NowMs() + timeout_ms;
    sched_.ListenForExits(&exited_);
    bool ended = false;
    for (;;) {
      if (thread_->WaitFor(0)) {
        ended = true;
        break;
      }
      if (sched_.NowMs() >= deadline) break;
      sched_.WaitUntil(deadline, exited_);
    }
    sched_.StopListening(&exited_);
    return ended;
  }

 private:
  SimScheduler& sched_;
  platform::Stoppable* thread_;
  platform::WakeEvent exited_;
};

// The supervisor's reports: only the line about the previous reset; the
// wall clock is the simulator's.
class SimReports final : public supervision::RunReports {
 public:
  explicit SimReports(std::shared_ptr<supervision::ResetHistory> history) : history_(std::move(history)) {}
  std::optional<std::string> PreviousResetReport() override {
    const auto last = history_->TakeUnreported();
    if (!last) return std::nullopt;
    return "Previous computer reset: w" + std::to_string(last->utc_seconds) + " (" + last->reason + ")";
  }

 private:
  std::shared_ptr<supervision::ResetHistory> history_;
};

// The supervisor's machine: its first step enters the scheduler; "rasdial"
// fails or runs for a seeded time, or until a hang injected by the world ends.
class SimHost final : public supervision::HostActions {
 public:
  SimHost(SimScheduler& sched, const bool* dial_fails, const Tick* dial_hang_until, std::function<void()> on_dial)
      : sched_(sched), dial_fails_(dial_fails), dial_hang_until_(dial_hang_until), on_dial_(std::move(on_dial)) {}
  void PrimeSystemLoad() override { sched_.Enter(); }
  std::unique_ptr<platform::ChildProcess> StartProcess(const std::string&) override {
    if (*dial_fails_) return nullptr;
    on_dial_();
    const Tick ends = std::max(*dial_hang_until_, sched_.NowMs() + sched_.rng().Between(2000, 45000));
    return std::make_unique<SimDialProcess>(sched_, ends);
  }

 private:
  SimScheduler& sched_;
  const bool* dial_fails_;
  const Tick* dial_hang_until_;
  std::function<void()> on_dial_;
};

}  // namespace

// One service run, built as the service's start handler builds it; freed
// in the stop handler's order.
struct Incarnation {
  Incarnation(Simulation& sim, SimScheduler& sched, SimBoard& board, SimNetwork& net, platform::Registry& config,
              platform::StateStore& state, SimLogDisk& log_disk, int group, bool* dial_fails, Tick* dial_hang_until)
      : sched(sched),
        log([&sim] { return sim.StampLogLine(); }, sched,
            [&log_disk](const std::string&, const std::string&) {
              if (!log_disk.Usable()) return false;
              log_disk.size = 0;
              return true;
            },
            // Opens do not stall: the supervisor opens the log itself, and
            // a thread inside a stalled disk cannot end within its stop's
            // limit (the unit tests hold a Close beside a stalled open).
            [&log_disk](const std::string&) -> std::unique_ptr<platform::AppendFile> {
              if (log_disk.failing) return nullptr;
              return std::make_unique<SimLogFile>(log_disk);
            }),
        tap(sim, log) {
    log.CountFailuresIn(&metrics.log_write_failures);
    log.Start();
    sched.AwaitNewThread("log", group);
    port = std::make_unique<device::TComPort>(std::make_unique<SimSerialPort>(board));
    history = std::make_shared<supervision::ResetHistory>(state, [&sim] { return sim.WallSeconds(); });
    const auto start_thread = [&sched, group](platform::WorkerThread& w) {
      const char* name = dynamic_cast<device::TQOVControlThread*>(&w)       ? "control"
                         : dynamic_cast<supervision::TOSMonitorThread*>(&w) ? "checker"
                         : dynamic_cast<supervision::TSupervisorThread*>(&w) ? "supervisor"
                                                                             : "worker";
      w.Start();
      sched.AwaitNewThread(name, group);
    };
    auto make_control = [this, &board, &sim, &state, group] {
      device::DeviceContext ctx{this->sched, tap, params, *port, mailbox};
      ctx.port_present = [&board](const std::string&) { return board.Present(); };
      ctx.make_receiver = [group](platform::Clock& clock, device::TComPort& p, device::RcvMailbox& m) {
        auto t = std::make_unique<device::TComRcvThread>(clock, p, m);
        t->Start();
        static_cast<SimScheduler&>(clock).AwaitNewThread("receive", group);
        return t;
      };
      ctx.metrics = &metrics;
      ctx.state = &state;
      ctx.utc_now = [&sim] { return sim.WallSeconds(); };
      return std::make_unique<device::TQOVControlThread>(std::move(ctx));
    };
    auto make_checker = [this, &net, &sim](device::ResetRequests* control) {
      reset_tap = std::make_unique<ResetTap>(sim, control);
      return std::make_unique<supervision::TOSMonitorThread>(supervision::CheckerContext{
          this->sched, tap, params, flags, reset_tap.get(), net, nullptr, history.get(), nullptr, &metrics});
    };
    workers = std::make_unique<service::RunWorkers>(make_control, make_checker, start_thread);

    reports = std::make_unique<SimReports>(history);
    host = std::make_unique<SimHost>(sched, dial_fails, dial_hang_until, [&sim] { sim.OnDialStarted(); });
    supervisor = std::make_unique<supervision::TSupervisorThread>(
        supervision::SupervisorContext{sched, config, log, params, flags, *workers, *reports, *host});
    start_thread(*supervisor);
  }

  // The stop handler's order: the supervisor, the workers, then the port.
  ~Incarnation() {
    supervisor.reset();
    workers.reset();
    port.reset();
  }

  SimScheduler& sched;
  metrics::Metrics metrics;
  config::LogWriter log;
  LogTap tap;
  config::TParamRec params;
  supervision::RunFlags flags;
  device::RcvMailbox mailbox;
  std::unique_ptr<device::TComPort> port;
  std::shared_ptr<supervision::ResetHistory> history;
  std::unique_ptr<ResetTap> reset_tap;
  std::unique_ptr<service::RunWorkers> workers;
  std::unique_ptr<supervision::RunReports> reports;
  std::unique_ptr<supervision::HostActions> host;
  std::unique_ptr<supervision::TSupervisorThread> supervisor;
};

Simulation::Simulation(std::uint64_t seed, double hours, std::FILE* trace_file)
    : seed_(seed),
      end_(static_cast<Tick>(hours * static_cast<double>(kHour))),
      sched_(seed, 0),
      trace_(trace_file),
      net_(sched_),
      state_registry_(sched_),
      log_disk_(sched_) {
  log_disk_.sink = [this](std::string_view data) { OnLogData(data); };
  result_.seed = seed;
  result_.hours = hours;
  state_ = platform::RegistryStateStore(state_registry_);
}

Simulation::~Simulation() = default;

std::int64_t Simulation::WallSeconds() const {
  return kWallStart + (const_cast<SimScheduler&>(sched_).NowMs() + wall_offset_ms_) / 1000;
}

void Simulation::DrawConfiguration() {
  Rng& r = sched_.rng();
  config::TParamRec& c = cfg_;
  c.connection_need_dial = r.Chance(0.5);
  c.connection_name = "sim dsl";
  c.wait_time_after_start_s = static_cast<std::int32_t>(r.Between(1, 900));
  c.check_ok_period_s = static_cast<std::uint32_t>(r.Between(10, 600));
  c.check_wait_resp_s = static_cast<std::int32_t>(r.Between(-3, 40));
  c.check_fail_period_s = static_cast<std::int32_t>(r.Chance(0.1) ? r.Between(-5, 0) : r.Between(1, 300));
  c.check_fail_loop_count = static_cast<std::int32_t>(r.Between(-2, 12));
  c.reset_modem = r.Chance(0.7);
  c.reset_comp = r.Chance(0.7);
  c.check_fail_loop_count_before_reset_comp = static_cast<std::int32_t>(r.Between(-1, 4));
  c.log_file_max_size = static_cast<std::int32_t>(r.Between(0, 64));
  // Short periods are legal but cost a turn each: seldom drawn.
  static constexpr std::int32_t kLife[] = {5000, 15000, 30000, 60000, 60000, 60000, 120000};
  c.life_beakon_period_ms = r.Chance(0.03) ? static_cast<std::int32_t>(r.Between(-1000, 1000)) : kLife[r.Between(0, 6)];
  c.check_addr_count = static_cast<std::int32_t>(r.Chance(0.05) ? 0 : r.Between(1, 3));
  c.check_settle_after_reset_s = static_cast<std::int32_t>(r.Chance(0.3) ? r.Between(-10, 0) : r.Between(30, 1200));
  c.reset_comp_max_per_day = static_cast<std::int32_t>(r.Between(0, 4));
  c.reset_dry_run = r.Chance(0.1);
  hosts_ = {"host0.sim", "host1.sim", "host2.sim"};
  const std::string entries[] = {"ICMP - host0.sim", "HTTP - host1.sim/check", "host2.sim"};
  board_timeout_ms_ = 2 * std::max<Tick>(c.life_beakon_period_ms, 50) + 30'000;

  const char* key = config::kConfigKey;
  auto& reg = config_registry_;
  reg.SetDword(key, "connection_need_dial", c.connection_need_dial);
  reg.SetString(key, "connection_name", c.connection_name);
  reg.SetDword(key, "wait_time_after_start_s", static_cast<std::uint32_t>(c.wait_time_after_start_s));
  reg.SetDword(key, "check_ok_period_s", c.check_ok_period_s);
  reg.SetDword(key, "check_wait_resp_s", static_cast<std::uint32_t>(c.check_wait_resp_s));
  reg.SetDword(key, "check_fail_period_s", static_cast<std::uint32_t>(c.check_fail_period_s));
  reg.SetDword(key, "check_fail_loop_count", static_cast<std::uint32_t>(c.check_fail_loop_count));
  reg.SetDword(key, "reset_modem", c.reset_modem);
  reg.SetDword(key, "reset_comp", c.reset_comp);
  reg.SetDword(key, "check_fail_loop_count_before_reset_comp",
               static_cast<std::uint32_t>(c.check_fail_loop_count_before_reset_comp));
  reg.SetString(key, "log_file_path", "sim.log");
  reg.SetDword(key, "log_file_max_size", static_cast<std::uint32_t>(c.log_file_max_size));
  reg.SetString(key, "qov_com_port", "COM3");
  reg.SetDword(key, "life_beakon_period_ms", static_cast<std::uint32_t>(c.life_beakon_period_ms));
  reg.SetDword(key, "check_addr_count", static_cast<std::uint32_t>(c.check_addr_count));
  for (int i = 0; i < 3; ++i) reg.SetString(key, "check_addr_" + std::to_string(i), entries[i]);
  reg.SetDword(key, "check_settle_after_reset_s", static_cast<std::uint32_t>(c.check_settle_after_reset_s));
  reg.SetDword(key, "reset_comp_max_per_day", static_cast<std::uint32_t>(c.reset_comp_max_per_day));
  reg.SetDword(key, "reset_dry_run", c.reset_dry_run);

  result_.config = "dial=" + std::to_string(c.connection_need_dial) + " wait=" + std::to_string(c.wait_time_after_start_s) +
                   "s ok=" + std::to_string(c.check_ok_period_s) + "s fail=" + std::to_string(c.check_fail_period_s) +
                   "s resp=" + std::to_string(c.check_wait_resp_s) + "s loop=" + std::to_string(c.check_fail_loop_count) +
                   " before_comp=" + std::to_string(c.check_fail_loop_count_before_reset_comp) +
                   " modem=" + std::to_string(c.reset_modem) + " comp=" + std::to_string(c.reset_comp) +
                   " settle=" + std::to_string(c.check_settle_after_reset_s) +
                   "s max/day=" + std::to_string(c.reset_comp_max_per_day) + " dry=" + std::to_string(c.reset_dry_run) +
                   " life=" + std::to_string(c.life_beakon_period_ms) + "ms addrs=" + std::to_string(c.check_addr_count) +
                   " board_timeout=" + std::to_string(board_timeout_ms_) + "ms";
}

RunResult Simulation::Run() {
  sched_.AdoptCallingThread("world");
  DrawConfiguration();
  trace_.Add(0, "world", "seed " + std::to_string(seed_) + ": " + result_.config);
  board_ = std::make_unique<SimBoard>(sched_, trace_, board_timeout_ms_);
  board_->reset_computer = [this](const std::string& why) {
    if (power_cut_pending_) return;
    // Invariant: the board's timer runs out only when an injected fault
    // explains it (a board that took no life message: silent, unplugged
    // at the wrong moment, answering too late).
    if (why == "board timer ran out" && Now() - last_board_fault_ > board_timeout_ms_ + 10'000) {
      Violation("board timer fired without a fault to explain it",
                "last board fault ended at " + std::to_string(last_board_fault_) + " ms");
    }
    power_cut_pending_ = true;
    power_cut_why_ = why;
    sched_.Freeze(group_);
    operator_wake_.Signal();
  };
  board_->reset_modem = [this] {
    trace_.Add(Now(), "board", "modem reset");
    net_.ModemReset(sched_.rng().Between(20'000, 180'000));
    NoteNetworkChange();
  };
  board_->on_life = [this](Tick at) {
    ++result_.life_messages;
    // Invariant: while the service runs and the board answers, life
    // messages come at most the life period plus kLifeSlackMs apart.
    const Tick period = std::max<Tick>(cfg_.life_beakon_period_ms, 50);
    if (last_life_ && !stopping_ && *last_life_ > last_board_fault_ && at - *last_life_ > period + kLifeSlackMs) {
      Violation("life-message gap", std::to_string(at - *last_life_) + " ms after the last one, period " +
                                        std::to_string(period) + " ms");
    }
    last_life_ = at;
  };
  board_->on_frame = [this](std::uint8_t code) {
    if (code == device::CMD_TIMER_INIT) {
      timer_started_since_stop_ack_ = true;
      last_life_.reset();
    }
    if (code == device::CMD_TIMER_STOP) last_life_.reset();
    if (code == device::CMD_MODEM_RESET || code == device::CMD_PC_RESET) OnResetCommand(code == device::CMD_PC_RESET);
  };
  ScheduleFaults();
  StartService();
  next_stop_at_ = sched_.rng().Between(kHour, 72 * kHour);
  Tick next_liveness = Now() + kMinute;

  while (Now() < end_ && result_.violation.empty()) {
    Tick next = std::min({end_, next_liveness, run_ ? next_stop_at_ : start_at_.value_or(end_)});
    sched_.WaitUntil(next, operator_wake_);
    if (power_cut_pending_) {
      PowerCut(power_cut_why_);
      continue;
    }
    if (Now() >= next_liveness) {
      CheckLiveness();
      next_liveness = Now() + kMinute;
    }
    if (run_ && Now() >= next_stop_at_) {
      StopService();
      start_at_ = Now() + sched_.rng().Between(1000, 15 * kMinute);
    } else if (!run_ && start_at_ && Now() >= *start_at_) {
      start_at_.reset();
      StartService();
      next_stop_at_ = Now() + sched_.rng().Between(kHour, 120 * kHour);
    }
  }
  if (run_ && !power_cut_pending_) StopService();
  if (run_) TearDown(true);
  result_.trace_hash = trace_.Hash();
  result_.trace_lines = trace_.Lines();
  result_.switches = sched_.Switches();
  result_.faults = trace_.Faults();
  return result_;
}

void Simulation::StartService() {
  ++group_;
  ++result_.boots;
  trace_.Add(Now(), "world", "service start");
  stopping_ = false;
  stopped_line_seen_ = false;
  timer_started_since_stop_ack_ = false;
  record_failed_ = false;
  pending_request_[0].reset();
  pending_request_[1].reset();
  line_counts_.clear();
  log_stamps_ = log_written_ = last_log_seq_ = log_reported_drops_ = 0;
  checker_running_ = false;
  last_life_.reset();
  ref_ = Reference{};
  modem_request_since_down_.reset();
  computer_request_since_down_.reset();
  if (all_down_since_) all_down_since_ = Now();
  run_ = std::make_unique<Incarnation>(*this, sched_, *board_, net_, config_registry_, *state_, log_disk_, group_,
                                       &dial_fails_, &dial_hang_until_);
}

void Simulation::StopService() {
  ++result_.stops;
  trace_.Add(Now(), "world", "service stop");
  stopping_ = true;
  CheckEscalationMatch();
  Incarnation& rt = *run_;
  service::RunWorkers& workers = *rt.workers;
  int stop_frames_before = board_->timer_stops();
  const bool timer_owed = timer_started_since_stop_ack_;
  workers.CloseGate();
  std::vector<std::unique_ptr<SimJoin>> joins;
  const auto join = [this, &joins](platform::Stoppable* t) -> platform::Stoppable* {
    if (!t) return nullptr;
    joins.push_back(std::make_unique<SimJoin>(sched_, t));
    return joins.back().get();
  };
  const Tick began = Now();
  const bool all_ended = service::StopInOrder({
      {[&] { return join(workers.Control()); }, kControlLimitMs},
      {[&] { return join(workers.Checker()); }, kWorkerLimitMs},
      {[&] { return join(workers.ReceiverOfEndedControl()); }, kWorkerLimitMs},
      {[&] { return join(rt.supervisor.get()); }, kWorkerLimitMs},
  });
  // Invariant: a stop ends within the sum of its steps' limits.
  if (Now() - began > kControlLimitMs + 3 * kWorkerLimitMs) {
    Violation("stop past its limits", std::to_string(Now() - began) + " ms");
  }
  const bool board_answers = board_->mode() == SimBoard::Mode::kNormal && board_->plugged();
  // Invariant: the timer stop goes out whenever a timer start went out
  // since the last acknowledged timer stop (a board that answers lets the
  // control thread end in time to send it).
  if (timer_owed && all_ended && board_->timer_stops() == stop_frames_before && board_answers) {
    Violation("stop without the timer stop", "a timer start went out and no timer stop followed");
  }
  // Invariant: every thread ends within its step's limit, a silent or
  // missing board included (a thread left behind keeps the whole run alive).
  if (!all_ended) Violation("a stop left a thread behind", "threads of the run: " + sched_.LiveThreadsOf(group_));
  // Invariant: the metrics counters equal the counts of their log lines,
  // and no line was lost without being counted.
  const auto count = [this](const char* line) { return line_counts_[line]; };
  const std::pair<const char*, std::uint64_t> pairs[] = {
      {"Life message send ok", rt.metrics.life_messages_ok.load()},
      {"Life message send fail", rt.metrics.life_messages_fail.load()},
      {"ping ok", rt.metrics.check_cycles_ok.load()},
      {"ping fail", rt.metrics.check_cycles_fail.load()},
  };
  for (const auto& [line, counted] : pairs) {
    if (all_ended && count(line) != counted) {
      Violation("metrics disagree with the log", std::string(line) + ": " + std::to_string(count(line)) +
                                                     " lines, counter " + std::to_string(counted));
    }
  }
  const std::uint64_t modem_lines = count("modem reset ok") + count("modem reset skipped (dry run)");
  if (all_ended && modem_lines != rt.metrics.modem_resets.load()) {
    Violation("metrics disagree with the log", "modem resets: " + std::to_string(modem_lines) + " lines, counter " +
                                                   std::to_string(rt.metrics.modem_resets.load()));
  }
  const std::uint64_t failures_before_last_line = rt.metrics.log_write_failures.load();
  rt.log.Write("Service stopped");
  // A line still on the stalled disk: the service leaves its run behind,
  // and the process ends with the line unwritten.
  const bool log_idle = rt.log.Close();
  if (all_ended) CheckLogAccounting(failures_before_last_line, rt.metrics.log_write_failures.load(), log_idle);
  TearDown(!all_ended || !log_idle);
}

void Simulation::TearDown(bool kill) {
  if (kill) sched_.KillGroup(group_);
  run_.reset();
  checker_running_ = false;
}

void Simulation::PowerCut(const std::string& why) {
  trace_.Add(Now(), "world", "computer reset: " + why);
  CheckEscalationMatch();
  power_cut_pending_ = false;
  sched_.KillGroup(group_);
  run_.reset();
  checker_running_ = false;
  board_->ComputerReset();
  state_registry_.PowerCut();
  net_.ComputerRestarted();
  NoteNetworkChange();
  start_at_ = Now() + sched_.rng().Between(30'000, 180'000);
}

std::string Simulation::StampLogLine() { return "w" + std::to_string(WallSeconds()) + "#" + std::to_string(++log_stamps_); }

void Simulation::OnLogData(std::string_view data) {
  const std::string text(data);
  // Invariant: every write to the log is one whole line: a stamp, " - ",
  // the message, CR LF, and no other line break.
  const std::size_t end = text.size() >= 2 ? text.size() - 2 : std::string::npos;
  const std::size_t dash = text.find(" - ");
  const std::size_t hash = text.find('#');
  if (end == std::string::npos || text.compare(end, 2, "\r\n") != 0 || text.find_first_of("\r\n") != end ||
      dash == std::string::npos || hash == std::string::npos || hash > dash) {
    Violation("a log write that is not one whole line", text.substr(0, 200));
    return;
  }
  const std::uint64_t seq = std::strtoull(text.c_str() + hash + 1, nullptr, 10);
  // Invariant: lines reach the disk in the order they were written; a line
  // that never does leaves a gap, nothing else.
  if (seq <= last_log_seq_) {
    Violation("log lines out of order", "line " + std::to_string(seq) + " after line " + std::to_string(last_log_seq_));
  }
  last_log_seq_ = seq;
  ++log_written_;
  OnLogLine(text.substr(dash + 3, end - dash - 3));
}

void Simulation::OnLogLine(const std::string& m) {
  const Tick now = Now();
  const bool routine =
      m == "Life message send ok" || m == "ping ok" || m.rfind("Unable to open Internet-connection", 0) == 0;
  trace_.Add(now, "log", m, routine);
  // Invariant: nothing is logged after "Service stopped".
  if (stopped_line_seen_) Violation("a line after \"Service stopped\"", m);
  if (m == "Service stopped") stopped_line_seen_ = true;
  static constexpr std::string_view kDropped = "log lines dropped: ";
  if (m.rfind(kDropped, 0) == 0) log_reported_drops_ += std::strtoull(m.c_str() + kDropped.size(), nullptr, 10);
}

void Simulation::CheckLogAccounting(std::uint64_t failures_before_last_line, std::uint64_t failures, bool log_idle) {
  // Invariant: no line is lost without being counted: the stamped lines
  // that never reached the disk and those the log reported dropped (before
  // they could be stamped) are all in the failure counter, but for the one
  // line a stalled disk may still hold when the stop gives up on it.
  const std::uint64_t missing = log_stamps_ - log_written_;
  if (missing + log_reported_drops_ > failures + (log_idle ? 0 : 1)) {
    Violation("log lines lost without being counted",
              std::to_string(missing) + " stamped lines missing, " + std::to_string(log_reported_drops_) +
                  " reported dropped, counter " + std::to_string(failures));
  }
  // Invariant: "Service stopped" is the run's last line, or counted as lost.
  if (!stopped_line_seen_ && failures == failures_before_last_line) {
    Violation("\"Service stopped\" neither logged nor counted as lost", "");
  }
}

void Simulation::OnDialStarted() {
  const Tick now = Now();
  if (ref_.dial_settles && cfg_.check_settle_after_reset_s > 0) {
    ref_.settle_until = std::max(ref_.settle_until, now + cfg_.check_settle_after_reset_s * Tick{1000});
  }
  ref_.dial_settles = false;
}

void Simulation::OnLogMessage(const std::string& m) {
  const Tick now = Now();
  ++line_counts_[m];
  if (m == "QOV timer stop ok") timer_started_since_stop_ack_ = false;
  if (m.rfind("reset history write fail", 0) == 0) record_failed_ = true;
  if (m.rfind("modem reset dropped", 0) == 0) pending_request_[0].reset();
  if (m.rfind("reset pc dropped", 0) == 0) pending_request_[1].reset();
  if (m.rfind("reset pc suppressed", 0) == 0) {
    ++ref_.got_suppressed;
    computer_request_since_down_ = now;
  }
  if (m == "ping ok" || m == "ping fail") {
    CheckEscalationMatch();
    if (!checker_running_) {
      checker_running_ = true;
      checker_started_at_ = now;
    }
    ++result_.cycles;
    ref_.any_cycle = true;
    ref_.last_cycle_at = now;
    ref_.expect_modem = ref_.expect_computer = false;
    ref_.got_modem = ref_.got_computer = ref_.got_suppressed = 0;
    const bool ok = m == "ping ok";
    ref_.last_ok = ok;
    if (ok) {
      ref_.prev_ok = true;
      ref_.failed_since_success = 0;
      return;
    }
    // A failed cycle inside a settle window is not counted, asks for
    // nothing, and does not start the count: the first counted failure
    // after a pass counts 0.
    const bool settling = now < ref_.settle_until;
    ref_.cycle_settled = settling;
    if (settling) return;
    ref_.counted = ref_.prev_ok ? 0 : ref_.counted + 1;
    ++ref_.failed_since_success;
    ref_.prev_ok = false;
    if (ref_.counted >= cfg_.check_fail_loop_count) {
      ref_.counted = 0;
      if (cfg_.reset_modem) {
        ref_.expect_modem = true;
        ++ref_.modem_since_comp;
        if (cfg_.check_settle_after_reset_s > 0) {
          ref_.settle_until = std::max(ref_.settle_until, now + cfg_.check_settle_after_reset_s * Tick{1000});
        }
        ref_.dial_settles = true;
      } else if (cfg_.reset_comp) {
        ref_.modem_since_comp = 0;
        ref_.expect_computer = true;
      }
    }
    if (cfg_.reset_comp && ref_.modem_since_comp > cfg_.check_fail_loop_count_before_reset_comp) {
      ref_.modem_since_comp = 0;
      ref_.expect_computer = true;
    }
  }
}

void Simulation::OnResetRequest(bool computer) {
  const Tick now = Now();
  trace_.Add(now, "checker", computer ? "asks for a computer reset" : "asks for a modem reset");
  (computer ? result_.computer_requests : result_.modem_requests)++;
  (computer ? ref_.got_computer : ref_.got_modem)++;
  (computer ? computer_request_since_down_ : modem_request_since_down_) = now;
  if (!cfg_.reset_dry_run) pending_request_[computer ? 1 : 0] = now;
  // Invariant: no reset while the checks pass: only the cycle that just failed asks.
  // (A stalled disk may hold the request back after the cycle's line.)
  if (!ref_.any_cycle || ref_.last_ok) {
    Violation("reset asked for while the checks pass", computer ? "computer" : "modem");
  }
  // Invariant: none inside a settle window (the window restated from the
  // dials and modem resets seen; the one this very request opens excluded).
  if (ref_.cycle_settled) {
    Violation("reset inside a settle window", computer ? "computer" : "modem");
  }
  // Invariant: the failed cycles since the last success reached the
  // threshold: check_fail_loop_count + 1 (the first failure counts 0), or
  // one for a computer reset when check_fail_loop_count_before_reset_comp
  // is negative (no modem reset is then needed before it).
  const int threshold = computer && cfg_.check_fail_loop_count_before_reset_comp < 0
                            ? 1
                            : std::max(cfg_.check_fail_loop_count, 0) + 1;
  if (ref_.failed_since_success < threshold) {
    Violation("reset before the failed cycles reached the threshold",
              std::to_string(ref_.failed_since_success) + " counted failures");
  }
  const bool record_failed = record_failed_;
  record_failed_ = false;
  // A reset whose record did not reach the disk may go uncounted after a
  // reboot (the log and the events say so): the guard promises nothing for it.
  if (computer && !cfg_.reset_dry_run && cfg_.reset_comp_max_per_day > 0 && !record_failed) {
    // Invariant: never more computer resets in 24 h than
    // reset_comp_max_per_day, across reboots and clock steps. The day is
    // measured as the time that passed plus the wall clock's forward steps
    // (a clock set forward lets old resets go, as that time's passing
    // would; one set back must not bring them back early).
    // Measured between the cycles that decided: a stalled disk may hold a
    // reset back after its record is stored (see the report of seed 12).
    const Tick decided = ref_.last_cycle_at;
    int in_day = 0;
    for (const auto& [at, forward] : computer_resets_) {
      const std::int64_t age_ms = (decided - at) + (wall_forward_ms_ - forward);
      // The wall clock counts whole seconds: one second's grace.
      if (age_ms + 1000 < supervision::kResetWindowSeconds * 1000) ++in_day;
    }
    if (in_day >= cfg_.reset_comp_max_per_day) {
      Violation("more computer resets in 24 h than reset_comp_max_per_day",
                std::to_string(in_day + 1) + " > " + std::to_string(cfg_.reset_comp_max_per_day));
    }
    computer_resets_.emplace_back(decided, wall_forward_ms_);
  }
}

void Simulation::OnResetCommand(bool computer) {
  const int k = computer ? 1 : 0;
  const Tick now = Now();
  // The same command again within an exchange: a retry.
  if (last_reset_frame_[k] && now - *last_reset_frame_[k] < 3000) return;
  last_reset_frame_[k] = now;
  trace_.Add(now, "board", computer ? "takes a computer reset command" : "takes a modem reset command");
  // Invariant: a reset command reaches the board only for a request of the
  // checker, and no later than the control thread keeps a request while
  // the board is away (a check period, plus its port-open waits and one
  // pass); a stale request is dropped, never carried out.
  const Tick bound = std::max<Tick>(cfg_.check_fail_period_s, 0) * 1000 + 90'000;
  if (!pending_request_[k]) {
    Violation("reset command without a request", computer ? "computer" : "modem");
  } else if (now - *pending_request_[k] > bound) {
    Violation("stale reset request carried out",
              std::string(computer ? "computer" : "modem") + " reset asked for " +
                  std::to_string((now - *pending_request_[k]) / 1000) + " s before, bound " +
                  std::to_string(bound / 1000) + " s");
  }
  pending_request_[k].reset();
}

void Simulation::CheckEscalationMatch() {
  if (!ref_.any_cycle) return;
  // Invariant: the reference model of the escalation rules and the checker
  // agree on what each failed cycle asks for.
  const bool got_computer = ref_.got_computer > 0 || ref_.got_suppressed > 0;
  if (ref_.expect_modem != (ref_.got_modem > 0) || ref_.expect_computer != got_computer) {
    Violation("checker and reference model disagree",
              std::string("expected modem=") + (ref_.expect_modem ? "1" : "0") +
                  " computer=" + (ref_.expect_computer ? "1" : "0") + ", got modem=" + std::to_string(ref_.got_modem) +
                  " computer=" + std::to_string(ref_.got_computer) + " suppressed=" + std::to_string(ref_.got_suppressed));
  }
  ref_.expect_modem = ref_.expect_computer = false;
  ref_.got_modem = ref_.got_computer = ref_.got_suppressed = 0;
}

bool Simulation::AllTargetsDown() const {
  const int count = std::clamp(cfg_.check_addr_count, 0, 3);
  if (count == 0) return false;
  for (int i = 0; i < count; ++i) {
    if (net_.Reachable(hosts_[static_cast<std::size_t>(i)])) return false;
  }
  return true;
}

void Simulation::NoteNetworkChange() {
  const bool down = AllTargetsDown();
  if (down && !all_down_since_) {
    all_down_since_ = Now();
    modem_request_since_down_.reset();
    computer_request_since_down_.reset();
  }
  if (!down) all_down_since_.reset();
}

void Simulation::CheckLiveness() {
  NoteNetworkChange();
  if (!run_ || !checker_running_ || !all_down_since_ || cfg_.check_addr_count <= 0) return;
  // Liveness: with every target down, a modem reset (then a computer
  // reset) is asked for within a bound from the configuration: the first
  // failing cycle, a settle window, and enough failed cycles to escalate.
  const Tick probe = static_cast<Tick>(std::clamp(cfg_.check_addr_count, 0, 3)) *
                     std::max<Tick>(supervision::kHttpProbeTimeoutMs, supervision::EchoTimeoutMs(cfg_.check_wait_resp_s));
  const Tick fail = std::max<Tick>(cfg_.check_fail_period_s * Tick{1000}, 100) + probe;
  const Tick settle = std::max<Tick>(cfg_.check_settle_after_reset_s, 0) * 1000;
  // Each escalation may wait out two settle windows: the modem reset's and
  // that of the dial after it, which a slow dial can start later.
  const Tick escalation = 2 * settle + (std::max(cfg_.check_fail_loop_count, 0) + 2) * fail;
  // Two passing periods: the cycle that first fails was timed by the one
  // before it, and so is the next (a period follows the previous outcome).
  const Tick bound_modem = 2 * (cfg_.check_ok_period_s * Tick{1000} + probe) + escalation + 10'000;
  const Tick since = std::max(*all_down_since_, checker_started_at_);
  const Tick now = Now();
  if (cfg_.reset_modem && !modem_request_since_down_ && now - since > bound_modem) {
    Violation("liveness: no modem reset", "all targets down for " + std::to_string((now - since) / 1000) +
                                              " s, bound " + std::to_string(bound_modem / 1000) + " s");
  }
  const Tick bound_comp = bound_modem + (cfg_.reset_modem ? (std::max(cfg_.check_fail_loop_count_before_reset_comp, 0) + 1) * escalation : 0);
  if (cfg_.reset_comp && !computer_request_since_down_ && now - since > bound_comp) {
    Violation("liveness: no computer reset", "all targets down for " + std::to_string((now - since) / 1000) +
                                                 " s, bound " + std::to_string(bound_comp / 1000) + " s");
  }
}

void Simulation::Fault(const std::string& kind, const std::string& detail) {
  trace_.CountFault(kind);
  trace_.Add(Now(), "fault", kind + (detail.empty() ? "" : ": " + detail));
}

void Simulation::ScheduleFaults() {
  sched_.At(sched_.rng().Between(kMinute, 24 * kHour), [this] { NextBoardFault(); });
  sched_.At(sched_.rng().Between(kMinute, 12 * kHour), [this] { NextNetworkFault(); });
  sched_.At(sched_.rng().Between(kMinute, 24 * kHour), [this] { NextOtherFault(); });
}

void Simulation::NextBoardFault() {
  Rng& r = sched_.rng();
  const Tick lasts = r.Between(10'000, 2 * kHour);
  const auto kind = r.Between(0, 3);
  last_board_fault_ = kForever / 2;
  last_life_.reset();
  if (kind == 0) {
    Fault("board silent", std::to_string(lasts / 1000) + " s");
    board_->SetMode(SimBoard::Mode::kSilent);
  } else if (kind == 1) {
    Fault("board late", std::to_string(lasts / 1000) + " s");
    board_->SetMode(SimBoard::Mode::kLate);
  } else if (kind == 2) {
    Fault("board junk", std::to_string(lasts / 1000) + " s");
    board_->SetMode(SimBoard::Mode::kJunk);
  } else {
    Fault("board unplugged", std::to_string(lasts / 1000) + " s");
    board_->Unplug();
  }
  // Stops are most telling while the board is away or silent.
  if (run_ && r.Chance(0.3)) next_stop_at_ = std::min(next_stop_at_, Now() + r.Between(0, lasts));
  sched_.At(Now() + lasts, [this] {
    board_->SetMode(SimBoard::Mode::kNormal);
    board_->Replug();
    last_board_fault_ = Now();
    last_life_.reset();
    trace_.Add(Now(), "fault", "board well again");
    sched_.At(Now() + sched_.rng().Between(kHour, 72 * kHour), [this] { NextBoardFault(); });
  });
}

void Simulation::NextNetworkFault() {
  Rng& r = sched_.rng();
  const auto kind = r.Between(0, 9);
  if (kind <= 4) {
    // One target away, from minutes to days.
    const std::string& host = hosts_[static_cast<std::size_t>(r.Between(0, 2))];
    const Tick lasts = r.Chance(0.2) ? r.Between(kHour, 3 * 24 * kHour) : r.Between(kMinute, 2 * kHour);
    Fault("target down", host + " for " + std::to_string(lasts / 1000) + " s");
    net_.TargetDownUntil(host, Now() + lasts);
    sched_.At(Now() + lasts, [this] { NoteNetworkChange(); });
  } else if (kind <= 6) {
    // Flapping: every target down, in short bursts.
    const Tick bursts = r.Between(3, 12);
    Fault("flapping", std::to_string(bursts) + " bursts");
    Tick at = Now();
    for (Tick i = 0; i < bursts; ++i) {
      const Tick down = r.Between(5'000, 10 * kMinute);
      for (const auto& h : hosts_) sched_.At(at, [this, h, down] {
        net_.TargetDownUntil(h, Now() + down);
        NoteNetworkChange();
      });
      sched_.At(at + down, [this] { NoteNetworkChange(); });
      at += down + r.Between(5'000, 10 * kMinute);
    }
  } else if (kind <= 8) {
    Fault("modem hung", "until a modem reset");
    net_.HangModem();
  } else {
    Fault("network stack hung", "until the computer restarts");
    net_.HangStack();
  }
  NoteNetworkChange();
  sched_.At(Now() + r.Between(kHour, 36 * kHour), [this] { NextNetworkFault(); });
}

void Simulation::FaultWhile(const std::string& kind, Tick lasts, bool& condition) {
  Fault(kind, std::to_string(lasts / 1000) + " s");
  condition = true;
  sched_.At(Now() + lasts, [&condition] { condition = false; });
}

void Simulation::NextOtherFault() {
  Rng& r = sched_.rng();
  const auto kind = r.Between(0, 7);
  if (kind == 0) {
    const std::int64_t step = r.Chance(0.5) ? r.Between(-12 * kHour, -1000) : r.Between(1000, 12 * kHour);
    Fault("wall clock step", std::to_string(step / 1000) + " s");
    wall_offset_ms_ += step;
    if (step > 0) wall_forward_ms_ += step;
  } else if (kind == 1) {
    FaultWhile("state flushes fail", r.Between(kMinute, 3 * kHour), state_registry_.flushes_fail);
  } else if (kind == 2) {
    // Short: the supervisor retries (and logs) every 100 ms meanwhile.
    FaultWhile("dial fails", r.Between(10'000, 10 * kMinute), dial_fails_);
  } else if (kind == 3) {
    const Tick lasts = r.Between(kMinute, 2 * kHour);
    Fault("dial hangs", std::to_string(lasts / 1000) + " s");
    dial_hang_until_ = Now() + lasts;
  } else if (kind == 4) {
    const Tick lasts = r.Between(kMinute, 3 * kHour);
    state_registry_.stall_until = Now() + lasts;
    state_registry_.stall_ms = r.Between(1000, 20'000);
    Fault("state disk stalls", std::to_string(state_registry_.stall_ms / 1000) + " s per flush for " +
                                   std::to_string(lasts / 1000) + " s");
  } else if (kind == 5) {
    FaultWhile("log disk full", r.Between(kMinute, 6 * kHour), log_disk_.full);
  } else if (kind == 6) {
    FaultWhile("log disk fails", r.Between(10'000, 30 * kMinute), log_disk_.failing);
  } else {
    // Long enough, now and then, for the writer's queue to fill.
    const Tick lasts = r.Chance(0.3) ? r.Between(kMinute, 8 * kHour) : r.Between(1000, 30'000);
    Fault("log disk stalls", std::to_string(lasts / 1000) + " s");
    log_disk_.stalled_until = Now() + lasts;
    // A stop then finds lines that the disk has not taken yet.
    if (run_ && r.Chance(0.3)) next_stop_at_ = std::min(next_stop_at_, Now() + r.Between(0, lasts));
  }
  sched_.At(Now() + r.Between(kHour, 48 * kHour), [this] { NextOtherFault(); });
}

void Simulation::Violation(const std::string& invariant, const std::string& detail) {
  if (!result_.violation.empty()) return;
  trace_.Add(Now(), "VIOLATION", invariant + (detail.empty() ? "" : ": " + detail));
  std::string text = "invariant broken at t=" + std::to_string(Now() / 1000) + " s: " + invariant +
                     (detail.empty() ? "" : " (" + detail + ")") + "\nlast events:\n";
  for (const auto& line : trace_.Last()) text += "  " + line + "\n";
  result_.violation = text;
}

}  // namespace qov::sim
