// Events for the system's event log: fixed IDs that monitoring can alert on,
// each with a level and a text whose %1, %2 ... are filled from the report's
// arguments. The same texts are the exe's message table, so Event Viewer
// shows them too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qov::config {

enum class EventId : std::uint32_t {
  kServiceStarted = 1000,
  kServiceStopped = 1001,
  kConfigurationProblem = 1002,
  kDeviceNotFound = 1100,
  kDeviceFoundAgain = 1101,
  kDeviceNotAnswering = 1102,
  kChecksFailing = 1200,
  kChecksPassAgain = 1201,
  kModemResetRequested = 1300,
  kComputerResetRequested = 1301,
  kComputerResetSuppressed = 1302,
  kResetRecordFailed = 1303,
};

enum class EventLevel { kInformation, kWarning, kError };

struct EventInfo {
  EventId id;
  EventLevel level;
  const char* text;
};

// Every event, in ID order.
const std::vector<EventInfo>& EventCatalogue();
const EventInfo& Describe(EventId id);
// The event's text with %1 ... %9 replaced by `args` (a missing one by "").
std::string FormatEvent(EventId id, const std::vector<std::string>& args);

// Where components report events; reports are dropped while the event log is off.
class Events {
 public:
  virtual ~Events() = default;
  virtual void Report(EventId id, const std::vector<std::string>& args) = 0;
};

// For components whose event sink is optional.
inline void Report(Events* events, EventId id, const std::vector<std::string>& args = {}) {
  if (events) events->Report(id, args);
}

}  // namespace qov::config
