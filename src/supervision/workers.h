// The workers the supervisor brings up: the device control thread and the
// checker. Their owner, one per service run, makes, starts and stops them,
// so that the stop never reaches into the supervisor.
#pragma once

#include <string>

#include "platform/clock.h"

namespace qov::supervision {

enum class StartOutcome {
  kRunning,   // started now or before
  kStopping,  // the stop has begun: nothing is started any more
  kFailed,    // the system could not create the thread
};

class Workers {
 public:
  virtual ~Workers() = default;
  // Makes and starts the thread unless it runs already; `error` says why
  // when it failed. The checker's reset requests go to the control thread.
  virtual StartOutcome StartControlThread(std::string& error) = 0;
  virtual StartOutcome StartChecker(std::string& error) = 0;
  // The first started worker past its promise of progress at `now`
  // ("control thread" or "checker thread"); null when none is.
  virtual const char* StuckWorker(platform::Tick now) = 0;
};

}  // namespace qov::supervision
