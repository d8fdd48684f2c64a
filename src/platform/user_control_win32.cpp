#include "platform/service_control.h"
#include "platform/user_control_win32.h"
#include "platform/win32_handle.h"

namespace qov::platform {
namespace {

inline void CloseScHandle(SC_HANDLE h) { ::CloseServiceHandle(h); }
using UniqueScHandle = UniqueWin32<SC_HANDLE, CloseScHandle, nullptr>;

std::string ErrorText(DWORD code) { return SystemServiceControl().SystemErrorText(code); }

ControlSent Classify(DWORD error, std::string& why) {
  why = ErrorText(error);
  switch (error) {
    case ERROR_SERVICE_DOES_NOT_EXIST:
    case ERROR_SERVICE_NOT_ACTIVE: return ControlSent::kNotRunning;
    case ERROR_ACCESS_DENIED: return ControlSent::kRefused;
    default: return ControlSent::kFailed;
  }
}

}  // namespace

std::uint32_t UserControlAccess() { return SERVICE_USER_DEFINED_CONTROL; }

ControlSent SendUserControl(const std::string& name, std::uint32_t code, std::string& why) {
  // Only the right this needs: the SCM then checks it against the service's
  // DACL, which gives it to administrators (and the system) only.
  const UniqueScHandle scm(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) return Classify(::GetLastError(), why);
  const UniqueScHandle service(::OpenServiceA(scm.get(), name.c_str(), UserControlAccess()));
  if (!service) return Classify(::GetLastError(), why);
  SERVICE_STATUS status{};
  if (!::ControlService(service.get(), code, &status)) return Classify(::GetLastError(), why);
  return ControlSent::kSent;
}

}  // namespace qov::platform
