// The service's main worker: loads the configuration, opens the log, starts
// the device control thread, brings the connection up (start-up delay or
// "rasdial"), starts the checker and writes system-load lines.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "config/log_writer.h"
#include "config/param_rec.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/worker_thread.h"
#include "supervision/run_flags.h"

namespace qov::supervision {

// What the supervisor starts and asks for, supplied by the service module.
struct SupervisorSeams {
  // Create and start the device control thread (once, after "Service started").
  std::function<void()> start_control_thread = [] {};
  // Create and start the checker unless one exists.
  std::function<void()> start_checker = [] {};
  // Take the first CPU sample (at the supervisor's start).
  std::function<void()> prime_system_load = [] {};
  // The text after "System Load: CPU - ", or nothing when no sample could be had.
  std::function<std::optional<std::string>()> system_load_text = [] { return std::nullopt; };
  // Start a detached process (the "rasdial" command line).
  std::function<bool(const std::string&)> start_process;
};

struct SupervisorContext {
  platform::Clock& clock;
  platform::Registry& registry;
  config::LogWriter& log;
  // Written here once, before any other thread is created; read-only after.
  config::TParamRec& params;
  RunFlags& flags;
};

// The "rasdial" command line for a phone-book entry; nothing when the name
// would break out of its quotes.
std::optional<std::string> RasdialCommandLine(const std::string& connection_name);

class TSupervisorThread final : public platform::WorkerThread {
 public:
  TSupervisorThread(SupervisorContext ctx, SupervisorSeams seams);
  ~TSupervisorThread() override { Join(); }

 protected:
  void Execute() override;

 private:
  void LoadConfiguration();
  void BringConnectionUp();
  bool Dial();
  void StartChecker();
  void LogSystemLoadWhenDue();

  SupervisorContext ctx_;
  SupervisorSeams seams_;
  platform::Tick next_load_line_ = 0;
};

}  // namespace qov::supervision
