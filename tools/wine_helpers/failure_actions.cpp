// Prints a service's recovery actions as the SCM returns them, for the Wine
// scenarios (Wine's "sc" has no "qfailure"):
//   qov_failure_actions <service>
// prints "reset <seconds>" and one "action <type> <delay ms>" line per action
// (type 0 none, 1 restart, 2 reboot, 3 run a command). When the service
// cannot be opened or queried it prints "query failed: <error code>" and
// exits with 1.
#include <cstdio>
#include <vector>

#include "platform/win32_handle.h"

namespace {

void CloseScHandle(SC_HANDLE h) { ::CloseServiceHandle(h); }
using UniqueScHandle = qov::platform::UniqueWin32<SC_HANDLE, CloseScHandle, nullptr>;

int Failed(const char* what) {
  std::printf("%s failed: %lu\n", what, ::GetLastError());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qov_failure_actions <service>\n");
    return 2;
  }
  const UniqueScHandle scm(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm) return Failed("open scm");
  const UniqueScHandle service(::OpenServiceA(scm.get(), argv[1], SERVICE_QUERY_CONFIG));
  if (!service) return Failed("query");
  DWORD needed = 0;
  std::vector<unsigned char> buffer;
  BOOL ok = ::QueryServiceConfig2A(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, nullptr, 0, &needed);
  if (!ok && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    buffer.resize(needed);
    ok = ::QueryServiceConfig2A(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(), needed, &needed);
  }
  if (!ok) return Failed("query");
  if (buffer.empty()) {
    ::SetLastError(ERROR_INVALID_DATA);
    return Failed("query");
  }
  const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSA*>(buffer.data());
  std::printf("reset %lu\n", actions->dwResetPeriod);
  for (DWORD i = 0; i < actions->cActions; ++i) {
    std::printf("action %d %lu\n", static_cast<int>(actions->lpsaActions[i].Type), actions->lpsaActions[i].Delay);
  }
  return 0;
}
