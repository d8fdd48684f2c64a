// Keeps the status record up to date: rewrites it whenever its facts change
// (as far as the first line and the resets show) and at least every
// kStatusRefreshMs, marks it stopped at the end of the run, and hands each
// new first line to the host (systemd's STATUS=). A failed write is logged
// once per run and tried again. Used by one thread (the supervisor's).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "config/log.h"
#include "metrics/status_record.h"
#include "platform/clock.h"

namespace qov::metrics {

class StatusWriter {
 public:
  // The record of this moment, of a running service.
  using Gather = std::function<StatusRecord(platform::Tick now)>;
  // Replaces the stored record; the failure's reason, or nothing.
  using Publish = std::function<std::optional<std::string>(const std::string& text)>;
  // Shows a new first line where the host shows the service's status.
  using Announce = std::function<void(const std::string& summary)>;

  StatusWriter(Gather gather, Publish publish, Announce announce, config::Log& log, TimeText time_text);

  // Writes when the facts changed or the refresh is due; gives the time the
  // next refresh is due.
  platform::Tick WriteIfDue(platform::Tick now);
  // The run's last record, "stopped".
  void WriteStopped(platform::Tick now);

 private:
  void Write(const StatusRecord& r, const std::string& summary);

  Gather gather_;
  Publish publish_;
  Announce announce_;
  config::Log& log_;
  TimeText time_text_;
  bool written_once_ = false;
  platform::Tick next_ = 0;
  // What was last written, for telling a change.
  std::string last_key_;
  std::string last_summary_;
  bool failure_logged_ = false;
};

}  // namespace qov::metrics
