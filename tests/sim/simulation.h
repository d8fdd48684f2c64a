// One seed's simulated run: the service's own objects (supervisor, control
// thread with its link protocol and receive thread, checker with escalation,
// settle and daily guard, reset history over the state store, log writer,
// metrics, stop sequence) against the board, the network, the registry and
// the operator of this folder, with invariants checked as the run goes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/param_rec.h"
#include "platform/memory_registry.h"
#include "platform/state_store.h"
#include "sim/sim_board.h"
#include "sim/sim_env.h"
#include "sim/sim_scheduler.h"
#include "sim/sim_trace.h"

namespace qov::sim {

struct RunResult {
  std::uint64_t seed = 0;
  double hours = 0;
  std::uint64_t trace_hash = 0;
  std::uint64_t trace_lines = 0;
  std::uint64_t switches = 0;
  int boots = 0;
  int stops = 0;
  int modem_requests = 0;
  int computer_requests = 0;
  int life_messages = 0;
  int cycles = 0;
  std::map<std::string, int> faults;
  // Empty when every invariant held; else the first broken one, with the
  // events before it.
  std::string violation;
  std::string config;
};

struct Incarnation;

class Simulation {
 public:
  Simulation(std::uint64_t seed, double hours, std::FILE* trace_file);
  ~Simulation();
  RunResult Run();

  // -- Called by the parts of the simulated computer.
  // The log writer's timestamp: the wall clock and the line's number in
  // the run, in the order the lines were queued.
  std::string StampLogLine();
  // A line of the checker or the control thread, as it is written.
  void OnLogMessage(const std::string& message);
  // A write that the log disk took.
  void OnLogData(std::string_view data);
  // "rasdial" started: the connection counts as up from now.
  void OnDialStarted();
  void OnResetRequest(bool computer);
  std::int64_t WallSeconds() const;

 private:
  void DrawConfiguration();
  void StartService();
  void StopService();
  // The board reset the computer: everything of the run ends where it is.
  void PowerCut(const std::string& why);
  void TearDown(bool killed);
  void ScheduleFaults();
  void NextBoardFault();
  void NextNetworkFault();
  void NextOtherFault();
  void Fault(const std::string& kind, const std::string& detail);
  // A fault that holds `condition` true for `lasts` ms.
  void FaultWhile(const std::string& kind, Tick lasts, bool& condition);
  void NoteNetworkChange();
  void CheckLiveness();
  void CheckEscalationMatch();
  void OnResetCommand(bool computer);
  // A line on the log disk, its stamp removed.
  void OnLogLine(const std::string& message);
  // At the end of a stop: what the log took and what it counted as lost.
  void CheckLogAccounting(std::uint64_t failures_before_last_line, std::uint64_t failures, bool log_idle);
  void Violation(const std::string& invariant, const std::string& detail);
  bool AllTargetsDown() const;
  Tick Now() { return sched_.NowMs(); }

  std::uint64_t seed_;
  Tick end_;
  SimScheduler sched_;
  Trace trace_;
  config::TParamRec cfg_;
  std::vector<std::string> hosts_;
  Tick board_timeout_ms_ = 0;
  std::unique_ptr<SimBoard> board_;
  SimNetwork net_;
  SimRegistry state_registry_;
  std::unique_ptr<platform::StateStore> state_;
  platform::MemoryRegistry config_registry_;
  std::unique_ptr<Incarnation> run_;
  int group_ = 0;
  platform::WakeEvent operator_wake_;
  bool power_cut_pending_ = false;
  std::string power_cut_why_;
  Tick next_stop_at_ = 0;
  std::optional<Tick> start_at_;
  std::int64_t wall_offset_ms_ = 0;
  SimLogDisk log_disk_;
  bool dial_fails_ = false;
  Tick dial_hang_until_ = 0;

  // What the invariants remember.
  Tick last_board_fault_ = std::numeric_limits<Tick>::min() / 2;
  std::optional<Tick> last_life_;
  bool stopping_ = false;
  bool stopped_line_seen_ = false;
  std::optional<Tick> all_down_since_;
  Tick checker_started_at_ = 0;
  bool checker_running_ = false;
  std::optional<Tick> modem_request_since_down_;
  std::optional<Tick> computer_request_since_down_;
  // The escalation rules, restated apart from the checker.
  struct Reference {
    bool prev_ok = true;
    std::int32_t counted = 0;
    std::int32_t modem_since_comp = 0;
    Tick settle_until = std::numeric_limits<Tick>::min();
    bool dial_settles = true;
    std::int32_t failed_since_success = 0;
    // Of the last cycle: what it should ask for, and what it asked for.
    bool expect_modem = false, expect_computer = false;
    int got_modem = 0, got_computer = 0, got_suppressed = 0;
    bool last_ok = true;
    bool cycle_settled = false;
    bool any_cycle = false;
    Tick last_cycle_at = 0;
  } ref_;
  // The computer resets asked for, across reboots: when, and the wall
  // clock's forward steps until then.
  std::vector<std::pair<Tick, std::int64_t>> computer_resets_;
  std::int64_t wall_forward_ms_ = 0;
  int timer_init_frames_ = 0;
  bool timer_started_since_stop_ack_ = false;
  bool record_failed_ = false;
  // Per kind (modem, computer): the checker's request not yet carried out,
  // and the last command frame the board took.
  std::optional<Tick> pending_request_[2];
  std::optional<Tick> last_reset_frame_[2];
  // Lines of the checker and the control thread in the current run, by text.
  std::map<std::string, std::uint64_t> line_counts_;
  // The current run's log: lines stamped (queued), lines on the disk, the
  // number of the last line on the disk, and the lines that the log's own
  // "log lines dropped: N" reports.
  std::uint64_t log_stamps_ = 0;
  std::uint64_t log_written_ = 0;
  std::uint64_t last_log_seq_ = 0;
  std::uint64_t log_reported_drops_ = 0;
  RunResult result_;
};

}  // namespace qov::sim
