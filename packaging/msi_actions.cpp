// Custom action DLL of the Windows Installer package (qov_lumo_service.wxs).
// scripts/package builds it with the MinGW-w64 cross compiler and embeds it.
//
// StopServiceAndWait, a deferred action before the service is deleted and its
// exe removed: stops the service and waits until it has stopped and its
// process has ended. A process that is still ending holds its exe, and the
// exe cannot be removed then (Wine: error 5 and the file stays; Windows: a
// reboot is needed). Windows Installer's own StopServices waits for the
// stopped state only, Wine's does not wait at all, and the service's process
// ends some time after it reports "stopped". A service found stopped already
// names no process: then every process of the exe is waited for.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>

#include <cwchar>
#include <vector>

namespace {

constexpr wchar_t kServiceName[] = L"qov_lumo_service";
constexpr wchar_t kServiceExe[] = L"qov_lumo_service.exe";
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

// The processes that run the service's exe. Used when the SCM names no
// process: a service already reported "stopped" (Wine's StopServices stopped
// it) whose process may still be ending.
std::vector<HANDLE> OpenExeProcesses(MSIHANDLE install) {
  std::vector<HANDLE> processes;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    LogError(install, L"CreateToolhelp32Snapshot", GetLastError());
    return processes;
  }
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    const wchar_t* name = std::wcsrchr(entry.szExeFile, L'\\');
    name = name != nullptr ? name + 1 : entry.szExeFile;
    if (_wcsicmp(name, kServiceExe) != 0 || entry.th32ProcessID == GetCurrentProcessId()) continue;
    // A process that ended since the snapshot cannot be opened: nothing to wait for.
    if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID)) processes.push_back(process);
  }
  CloseHandle(snapshot);
  return processes;
}

// Waits for every process in `processes` and closes them; true when all ended.
bool WaitEnded(std::vector<HANDLE>& processes, DWORD limit_ms) {
  const ULONGLONG deadline = GetTickCount64() + limit_ms;
  bool ended = true;
  for (HANDLE process : processes) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    if (WaitForSingleObject(process, left) != WAIT_OBJECT_0) ended = false;
    CloseHandle(process);
  }
  processes.clear();
  return ended;
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
  std::vector<HANDLE> processes;
  const bool queried = QueryStatus(service, status);
  const bool already_stopped = queried && status.dwCurrentState == SERVICE_STOPPED;
  if (queried && status.dwProcessId != 0) {
    // Opened before the stop, so the id cannot name another process later.
    if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId)) {
      processes.push_back(process);
    } else if (GetLastError() != ERROR_INVALID_PARAMETER) {  // that one: the process has ended already
      LogError(install, L"OpenProcess", GetLastError());
    }
  }
  if (!already_stopped) {
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
  // Stopped with no process named: a process of the exe may still be ending.
  if (processes.empty()) processes = OpenExeProcesses(install);
  const bool found = !processes.empty();
  if (!WaitEnded(processes, kExitLimitMs)) {
    Log(install, L"StopServiceAndWait: the service's process did not end in time");
  } else if (found || !already_stopped) {
    Log(install, L"StopServiceAndWait: the service's process has ended");
  } else {
    Log(install, L"StopServiceAndWait: the service was already stopped and its process has ended");
  }
  CloseServiceHandle(service);
  CloseServiceHandle(scm);
  return ERROR_SUCCESS;
}
