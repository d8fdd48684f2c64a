// The states of a service, its settings, and how a state becomes the SCM's
// status record.
#pragma once

#include <cstdint>
#include <string>

#include "platform/service_control.h"

namespace qov::service {

// Values are the SCM's dwCurrentState.
enum class ServiceState : std::uint32_t {
  Stopped = 1,
  StartPending = 2,
  StopPending = 3,
  Running = 4,
  ContinuePending = 5,
  PausePending = 6,
  Paused = 7,
};

bool IsPending(ServiceState s);

enum class ServiceKind { Win32, Device, FileSystem };
enum class StartKind { Boot, System, Auto, Manual, Disabled };
enum class ErrorSeverity { Ignore, Normal, Severe, Critical };

struct ServiceSettings {
  std::string name;
  std::string display_name;  // empty: the name
  bool allow_stop = true;
  bool allow_pause = true;
  bool interactive = false;
  ServiceKind service_type = ServiceKind::Win32;
  StartKind start_type = StartKind::Auto;
  ErrorSeverity error_severity = ErrorSeverity::Normal;
  std::uint32_t wait_hint = 5000;
  std::uint32_t tag_id = 0;
  std::string load_group;
  std::string dependencies;
  std::string service_start_name;
  std::string password;
  // Set at the install; empty: the SCM's default (no restart).
  platform::RecoveryActions recovery;

  const std::string& ShownName() const { return display_name.empty() ? name : display_name; }
};

// SCM values of the settings. `shared_process`: the application owns more than one service.
std::uint32_t ServiceTypeValue(const ServiceSettings& s, bool shared_process);
std::uint32_t StartTypeValue(const ServiceSettings& s);
std::uint32_t ErrorControlValue(const ServiceSettings& s);
std::uint32_t ControlsAccepted(const ServiceSettings& s, ServiceState state);

// The last reported state and check-point, kept once per process.
struct StatusBook {
  ServiceState last_state = ServiceState::StartPending;
  std::uint32_t last_check_point = 0;
};

// The status record for `state`; updates the book. A pending state reported
// again counts its check-point up; every other report has check-point 0.
platform::ServiceStatus MakeStatus(const ServiceSettings& settings, std::uint32_t service_type, ServiceState state,
                                   StatusBook& book, std::uint32_t win32_exit_code,
                                   std::uint32_t service_specific_exit_code);

}  // namespace qov::service
