// Custom action DLL of the Windows Installer package (qov_lumo_service.wxs).
// scripts/package builds it with the MinGW-w64 cross compiler and embeds it.
//
// StopServiceAndWait, a deferred action before the service is deleted and its
// exe removed: stops the service and waits until it has stopped and its
// process has ended. A process that is still ending holds its exe, and the
// exe cannot be removed then (Wine: error 5 and the file stays; Windows: a
// reboot is needed). Windows Installer's own StopServices waits for the
// stopped state only, Wine's does not wait at all, and the service's process
// ends some time after it reports "stopped".
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cwchar>

namespace {

constexpr wchar_t kServiceName[] = L"qov_lumo_service";
// Bounds of the two waits. The service stops within a few seconds; past
// these the removal goes on, and what the process still holds stays behind.
constexpr DWORD kStoppedLimitMs = 60000;
constexpr DWORD kExitLimitMs = 30000;
constexpr DWORD kPollMs = 100;

// One line in the installer's log (msiexec /l*v).
void Log(MSIHANDLE install, const wchar_t* text) {
  MSIHANDLE record = MsiCreateRecord(0);
  if (record == 0) return;
  MsiRecordSetStringW(record, 0, text);
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

void LogError(MSIHANDLE install, const wchar_t* what, DWORD error) {
  wchar_t text[160];
  std::swprintf(text, sizeof text / sizeof text[0], L"StopServiceAndWait: %ls failed with error %lu", what,
                static_cast<unsigned long>(error));
  Log(install, text);
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &needed) != FALSE;
}

// Polls until the service reports "stopped" (or can no longer be queried)
// or `limit_ms` has passed; true when it stopped.
bool WaitStopped(SC_HANDLE service, DWORD limit_ms) {
  const ULONGLONG deadline = GetTickCount64() + limit_ms;
  SERVICE_STATUS_PROCESS status{};
  while (QueryStatus(service, status) && status.dwCurrentState != SERVICE_STOPPED) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollMs);
  }
  return true;
}

}  // namespace

// Always succeeds: a service that is missing or will not stop must not block
// the removal.
extern "C" __declspec(dllexport) UINT __stdcall StopServiceAndWait(MSIHANDLE install) {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (scm == nullptr) {
    LogError(install, L"OpenSCManager", GetLastError());
    return ERROR_SUCCESS;
  }
  SC_HANDLE service = OpenServiceW(scm, kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (service == nullptr) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      Log(install, L"StopServiceAndWait: the service is not installed");
    } else {
      LogError(install, L"OpenService", error);
    }
    CloseServiceHandle(scm);
    return ERROR_SUCCESS;
  }

  SERVICE_STATUS_PROCESS status{};
  HANDLE process = nullptr;
  if (QueryStatus(service, status) && status.dwProcessId != 0) {
    // Opened before the stop, so the id cannot name another process later.
    process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
    if (process == nullptr) LogError(install, L"OpenProcess", GetLastError());
  }
  if (status.dwCurrentState != SERVICE_STOPPED) {
    SERVICE_STATUS ignored{};
    // Fails when a stop is already pending (StopServices sent one): then only wait.
    if (!ControlService(service, SERVICE_CONTROL_STOP, &ignored)) {
      const DWORD error = GetLastError();
      if (error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL && error != ERROR_SERVICE_NOT_ACTIVE) {
        LogError(install, L"ControlService(stop)", error);
      }
    }
    if (!WaitStopped(service, kStoppedLimitMs)) Log(install, L"StopServiceAndWait: the service did not stop in time");
  }
  if (process != nullptr) {
    if (WaitForSingleObject(process, kExitLimitMs) == WAIT_OBJECT_0) {
      Log(install, L"StopServiceAndWait: the service's process has ended");
    } else {
      Log(install, L"StopServiceAndWait: the service's process did not end in time");
    }
    CloseHandle(process);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(scm);
  return ERROR_SUCCESS;
}
