#include "service/event_log_sink.h"

namespace qov::service {

void EventLogSink::Report(config::EventId id, const std::vector<std::string>& args) {
  if (!enabled_) return;
  const config::EventInfo& info = config::Describe(id);
  const platform::EventType type = info.level == config::EventLevel::kError     ? platform::EventType::Error
                                   : info.level == config::EventLevel::kWarning ? platform::EventType::Warning
                                                                                : platform::EventType::Information;
  logger_.Report({type, static_cast<std::uint32_t>(id), args, config::FormatEvent(id, args)});
}

}  // namespace qov::service
