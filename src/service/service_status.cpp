#include "service/service_status.h"

namespace qov::service {
namespace {

constexpr std::uint32_t kOwnProcess = 0x10;
constexpr std::uint32_t kShareProcess = 0x20;
constexpr std::uint32_t kInteractive = 0x100;
constexpr std::uint32_t kKernelDriver = 1;
constexpr std::uint32_t kFileSystemDriver = 2;
constexpr std::uint32_t kAutoStart = 2;
constexpr std::uint32_t kAcceptStop = 1;
constexpr std::uint32_t kAcceptPauseContinue = 2;
constexpr std::uint32_t kAcceptShutdown = 4;
constexpr std::uint32_t kServiceSpecificError = 1066;

}  // namespace

bool IsPending(ServiceState s) {
  return s == ServiceState::StartPending || s == ServiceState::StopPending || s == ServiceState::ContinuePending ||
         s == ServiceState::PausePending;
}

std::uint32_t ServiceTypeValue(const ServiceSettings& s, bool shared_process) {
  switch (s.service_type) {
    case ServiceKind::Device: return kKernelDriver;
    case ServiceKind::FileSystem: return kFileSystemDriver;
    case ServiceKind::Win32: break;
  }
  std::uint32_t type = shared_process ? kShareProcess : kOwnProcess;
  if (s.interactive) type |= kInteractive;
  return type;
}

std::uint32_t StartTypeValue(const ServiceSettings& s) {
  const auto value = static_cast<std::uint32_t>(s.start_type);  // the enum follows the SCM's order
  if ((s.start_type == StartKind::Boot || s.start_type == StartKind::System) && s.service_type != ServiceKind::Device) {
    return kAutoStart;
  }
  return value;
}

std::uint32_t ErrorControlValue(const ServiceSettings& s) { return static_cast<std::uint32_t>(s.error_severity); }

std::uint32_t ControlsAccepted(const ServiceSettings& s, ServiceState state) {
  if (state == ServiceState::StartPending) return 0;
  std::uint32_t accepted = kAcceptShutdown;
  if (s.allow_stop) accepted |= kAcceptStop;
  if (s.allow_pause) accepted |= kAcceptPauseContinue;
  return accepted;
}

platform::ServiceStatus MakeStatus(const ServiceSettings& settings, std::uint32_t service_type, ServiceState state,
                                   StatusBook& book, std::uint32_t win32_exit_code,
                                   std::uint32_t service_specific_exit_code) {
  platform::ServiceStatus st;
  st.service_type = service_type;
  st.controls_accepted = ControlsAccepted(settings, state);
  st.current_state = static_cast<std::uint32_t>(state);
  st.check_point = (IsPending(state) && state == book.last_state) ? book.last_check_point + 1 : 0;
  book.last_state = state;
  book.last_check_point = st.check_point;
  st.win32_exit_code = service_specific_exit_code != 0 ? kServiceSpecificError : win32_exit_code;
  st.service_specific_exit_code = service_specific_exit_code;
  st.wait_hint = settings.wait_hint;
  return st;
}

}  // namespace qov::service
