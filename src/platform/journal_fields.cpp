#include "platform/journal_fields.h"

#include <cstdio>

namespace qov::platform {

std::string JournalMessageId(std::uint32_t event_id) {
  // A prefix of our own; the last eight digits are the event ID.
  char id[9];
  std::snprintf(id, sizeof id, "%08x", static_cast<unsigned>(event_id));
  return std::string("6d1f0a4c93b84e27a5c0") + "e3b9" + id;
}

std::vector<std::string> JournalFields(const EventRecord& event, const std::string& identifier) {
  // syslog priorities: error 3, warning 4, informational 6.
  const char* priority = event.type == EventType::Error ? "3" : event.type == EventType::Warning ? "4" : "6";
  return {"MESSAGE=" + event.text,
          std::string("PRIORITY=") + priority,
          "MESSAGE_ID=" + JournalMessageId(event.id),
          "QOV_EVENT_ID=" + std::to_string(event.id),
          "SYSLOG_IDENTIFIER=" + identifier};
}

}  // namespace qov::platform
