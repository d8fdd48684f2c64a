// The service's events, written to its event-log source while the
// configuration enables them (`event_log_enable`).
#pragma once

#include <atomic>

#include "config/events.h"
#include "service/event_logger.h"

namespace qov::service {

class EventLogSink final : public config::Events {
 public:
  explicit EventLogSink(TEventLogger& logger) : logger_(logger) {}

  // Set once the configuration is loaded; cleared after the last event of a run.
  void SetEnabled(bool on) { enabled_ = on; }

  void Report(config::EventId id, const std::vector<std::string>& args) override;

 private:
  TEventLogger& logger_;
  std::atomic<bool> enabled_{false};
};

}  // namespace qov::service
