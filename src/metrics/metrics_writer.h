// Publishes the metrics: rewrites the metrics file, whole and atomically,
// once per period. A failed write is logged once per run and tried again
// every period, so a folder that comes back is written again. Used by one
// thread (the supervisor's).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/log.h"
#include "metrics/metrics.h"
#include "platform/clock.h"
#include "platform/local_time.h"

namespace qov::metrics {

class MetricsWriter {
 public:
  // Replaces the file's contents; the failure's reason, or nothing.
  using WriteFn = std::function<std::optional<std::string>(const std::string& path, std::string_view text)>;
  // Unix time in seconds.
  using WallClock = std::function<std::int64_t()>;

  MetricsWriter(const Metrics& metrics, config::Log& log, std::string path, std::int32_t period_s,
                WriteFn write = DefaultWrite(), WallClock utc_now_s = platform::UtcNowSeconds);

  // Writes at the first call, then once `period_s` has passed since the last
  // attempt; gives the time the next write is due.
  platform::Tick WriteIfDue(platform::Tick now);
  // The last file of the run, with qov_up 0.
  void WriteStopped(platform::Tick now);

 private:
  static WriteFn DefaultWrite();
  void Write(platform::Tick now, bool up);

  const Metrics& metrics_;
  config::Log& log_;
  std::string path_;
  std::int64_t period_ms_;
  WriteFn write_;
  WallClock utc_now_s_;
  bool written_once_ = false;
  platform::Tick next_ = 0;
  bool failure_logged_ = false;
};

}  // namespace qov::metrics
