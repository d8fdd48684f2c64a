// -STATUS: reads the status record the running service keeps and tells an
// operator, or a monitoring plugin by the exit code, how it is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "metrics/status_record.h"
#include "platform/state_store.h"

namespace qov::service {

struct StatusQueryFacts {
  std::int64_t utc_now = 0;
  std::function<bool(std::uint32_t pid)> process_runs;
  metrics::TimeText time_text;
  // The system's.
  static StatusQueryFacts System();
};

// Prints the status to `out`; 0 healthy, 1 degraded, 3 not running.
int RunStatusQuery(platform::StateStore& state, std::FILE* out, const StatusQueryFacts& facts);

}  // namespace qov::service
