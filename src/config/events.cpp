#include "config/events.h"

#include <algorithm>

namespace qov::config {

const std::vector<EventInfo>& EventCatalogue() {
  using L = EventLevel;
  static const std::vector<EventInfo> catalogue = {
      {EventId::kServiceStarted, L::kInformation, "The service started."},
      {EventId::kServiceStopped, L::kInformation, "The service stopped."},
      {EventId::kConfigurationProblem, L::kWarning, "Configuration problem: %1"},
      {EventId::kDeviceNotFound, L::kWarning, "The watchdog board was not found on %1 (%2)."},
      {EventId::kDeviceFoundAgain, L::kInformation, "The watchdog board on %1 answers again; its timer runs."},
      {EventId::kDeviceNotAnswering, L::kWarning, "The watchdog board on %1 does not answer: a life message failed."},
      {EventId::kChecksFailing, L::kWarning, "Connectivity checks have failed for %1 cycles in a row."},
      {EventId::kChecksPassAgain, L::kInformation, "Connectivity checks pass again after %1 failed cycles."},
      {EventId::kModemResetRequested, L::kWarning, "A modem reset was requested (%1)."},
      {EventId::kComputerResetRequested, L::kError, "A computer reset was requested (%1)."},
      {EventId::kComputerResetSuppressed, L::kWarning,
       "A computer reset was due but not sent: %1 were sent in the last 24 hours."},
      {EventId::kResetRecordFailed, L::kError,
       "A computer reset could not be recorded (%1): the reboot-loop guard may not count it."},
  };
  return catalogue;
}

const EventInfo& Describe(EventId id) {
  const auto& all = EventCatalogue();
  const auto found = std::find_if(all.begin(), all.end(), [id](const EventInfo& e) { return e.id == id; });
  return found != all.end() ? *found : all.front();
}

std::string FormatEvent(EventId id, const std::vector<std::string>& args) {
  const std::string text = Describe(id).text;
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const auto n = static_cast<std::size_t>(text[i + 1] - '1');
      if (n < args.size()) out += args[n];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace qov::config
