// Placeholder body until the checker is built.
#include "supervision/checker.h"

namespace qov::supervision {

TOSMonitorThread::TOSMonitorThread(CheckerContext ctx) : ctx_(std::move(ctx)) {}
void TOSMonitorThread::Execute() {
  while (!Terminated()) ctx_.clock.SleepMs(100);
}

}  // namespace qov::supervision
