// Custom action DLL of the Windows Installer package (qov_lumo_service.wxs).
// scripts/package builds it with the MinGW-w64 cross compiler (with the .reg
// file checks of src/config/config_import.cpp) and embeds it.
//
// StopServiceAndWait, a deferred action before the service is deleted and its
// exe removed or replaced: stops the service and waits until it has stopped
// and its process has ended. A process that is still ending holds its exe,
// and the exe cannot be removed then (Wine: error 5 and the file stays;
// Windows: a reboot is needed). Windows Installer's own StopServices waits
// for the stopped state only, Wine's does not wait at all, and the service's
// process ends some time after it reports "stopped". A service found stopped
// already names no process: then every process of the exe is waited for.
//
// ImportConfig, deferred (system context) before the service is stopped or
// started: imports the .reg file named by CONFIG_FILE (through
// CustomActionData) into the configuration key, all or nothing.
//
// FindOtherVersion, BackupServiceExe, RestorePreviousVersion,
// DropPreviousExe, KeepUpgradeCode and KeepServiceRunning make an upgrade
// safe: see the package's comments.
#include "platform/win32.h"  // first: <windows.h> with the project's settings

#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>

#include <cwctype>
#include <cwchar>
#include <string>
#include <vector>

#include "config/config_import.h"
#include "platform/win32_handle.h"

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

void Log(MSIHANDLE install, const std::wstring& text) { Log(install, text.c_str()); }

void LogError(MSIHANDLE install, const wchar_t* action, const wchar_t* what, DWORD error) {
  wchar_t text[200];
  std::swprintf(text, sizeof text / sizeof text[0], L"%ls: %ls failed with error %lu", action, what,
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
    LogError(install, L"StopServiceAndWait", L"CreateToolhelp32Snapshot", GetLastError());
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

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// The system's text for `error`, without its line end.
std::wstring ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n != 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  return L"error " + std::to_wstring(error) + (text.empty() ? L"" : L" (" + text + L")");
}

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t empty[1] = L"";
  if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return {};
  std::wstring value(static_cast<std::size_t>(size) + 1, L'\0');
  size = static_cast<DWORD>(value.size());
  if (MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return {};
  value.resize(size);
  return value;
}

// A deferred, rollback or commit action's data: fields separated by '|'.
std::vector<std::wstring> DataFields(MSIHANDLE install) {
  const std::wstring data = Property(install, L"CustomActionData");
  std::vector<std::wstring> fields;
  std::size_t start = 0;
  for (std::size_t bar; (bar = data.find(L'|', start)) != std::wstring::npos; start = bar + 1) {
    fields.push_back(data.substr(start, bar - start));
  }
  fields.push_back(data.substr(start));
  return fields;
}

// The exe in the folder of the data's first field (INSTALLDIR).
std::wstring ExePath(MSIHANDLE install) {
  std::wstring folder = DataFields(install).front();
  if (folder.empty()) return {};
  if (folder.back() != L'\\') folder += L'\\';
  return folder + kServiceExe;
}

std::wstring PreviousExePath(const std::wstring& exe) { return exe + L".previous"; }

// The whole file, or the reason it cannot be read.
bool ReadWholeFile(const std::wstring& path, std::string& text, std::wstring& why) {
  qov::platform::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    why = L"cannot open: " + ErrorText(GetLastError());
    return false;
  }
  // One byte more than the parser's bound, so that it sees an oversized file as such.
  char buffer[65536];
  while (text.size() <= qov::platform::kMaxRegeditFileBytes) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      why = L"cannot read: " + ErrorText(GetLastError());
      return false;
    }
    if (got == 0) break;
    text.append(buffer, got);
  }
  return true;
}

// "\Software\..." as the registry functions take it.
std::string Relative(const std::string& key) { return key.starts_with('\\') ? key.substr(1) : key; }

// Writes one edit; 0 or the error.
LONG Apply(const qov::config::RegistryEdit& edit) {
  using Kind = qov::config::RegistryEdit::Kind;
  const std::string key = Relative(edit.key);
  if (edit.kind == Kind::kDeleteKey) {
    const LONG rc = RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  qov::platform::UniqueRegKey handle;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, handle.put(), nullptr);
  if (rc != ERROR_SUCCESS || edit.kind == Kind::kCreateKey) return rc;
  if (edit.kind == Kind::kDeleteValue) {
    rc = RegDeleteValueA(handle.get(), edit.name.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  if (edit.value.type == qov::platform::RegValue::Type::Dword) {
    const DWORD v = edit.value.dword;
    return RegSetValueExA(handle.get(), edit.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  }
  return RegSetValueExA(handle.get(), edit.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(edit.value.text.c_str()),
                        static_cast<DWORD>(edit.value.text.size() + 1));
}

// Runs `exe` with `arguments` and waits for it; its exit code, or the error
// of its start as a negative number.
long RunExe(const std::wstring& exe, const wchar_t* arguments) {
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &info)) {
    return -static_cast<long>(GetLastError());
  }
  const qov::platform::UniqueHandle process(info.hProcess);
  const qov::platform::UniqueHandle thread(info.hThread);
  WaitForSingleObject(process.get(), 120000);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<long>(code);
}

// A GUID "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as Windows Installer's
// registry keys name it: the first three groups reversed, then the two hex
// digits of each further byte swapped. Empty for anything else.
std::wstring SquashGuid(const std::wstring& guid) {
  if (guid.size() != 38 || guid.front() != L'{' || guid.back() != L'}') return {};
  std::wstring out;
  for (const auto& [at, n] : {std::pair{1, 8}, std::pair{10, 4}, std::pair{15, 4}}) {
    for (int i = n - 1; i >= 0; --i) out += guid[static_cast<std::size_t>(at + i)];
  }
  for (const int at : {20, 22, 25, 27, 29, 31, 33, 35}) {
    out += guid[static_cast<std::size_t>(at + 1)];
    out += guid[static_cast<std::size_t>(at)];
  }
  for (wchar_t& c : out) c = static_cast<wchar_t>(towupper(c));
  return out;
}

// Wine's msiexec deletes the whole UpgradeCode key when it removes or rolls
// back a product, the entries of the other products of that code with it:
// later packages would then find `product` not installed (no downgrade
// refused, no upgrade replacing it). Writes its entry again when it is
// missing; Windows keeps it, and then nothing is done.
void EnsureUpgradeCodeEntry(MSIHANDLE install, const wchar_t* action, const std::wstring& upgrade_code,
                            const std::wstring& product) {
  wchar_t found[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(upgrade_code.c_str(), 0, i, found) == ERROR_SUCCESS; ++i) {
    if (_wcsicmp(found, product.c_str()) == 0) return;
  }
  const std::wstring key_name = SquashGuid(upgrade_code);
  const std::wstring value_name = SquashGuid(product);
  if (key_name.empty() || value_name.empty()) return;
  // Windows keeps the entry under Classes; Wine's msi reads the other key.
  for (const wchar_t* parent : {L"Software\\Classes\\Installer\\UpgradeCodes\\",
                                L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\"}) {
    const std::wstring path = parent + key_name;
    qov::platform::UniqueRegKey key;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
    if (rc == ERROR_SUCCESS) {
      rc = RegSetValueExW(key.get(), value_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L""),
                          sizeof(wchar_t));
    }
    Log(install, std::wstring(action) + (rc == ERROR_SUCCESS ? L": the UpgradeCode entry of " + product +
                                                                  L" written again under HKLM\\" + path
                                                            : L": cannot write HKLM\\" + path + L": " +
                                                                  ErrorText(static_cast<DWORD>(rc))));
  }
}

}  // namespace

// Always succeeds: a service that is missing or will not stop must not block
// the removal.
extern "C" __declspec(dllexport) UINT __stdcall StopServiceAndWait(MSIHANDLE install) {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (scm == nullptr) {
    LogError(install, L"StopServiceAndWait", L"OpenSCManager", GetLastError());
    return ERROR_SUCCESS;
  }
  SC_HANDLE service = OpenServiceW(scm, kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (service == nullptr) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      Log(install, L"StopServiceAndWait: the service is not installed");
    } else {
      LogError(install, L"StopServiceAndWait", L"OpenService", error);
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
      LogError(install, L"StopServiceAndWait", L"OpenProcess", GetLastError());
    }
  }
  if (!already_stopped) {
    SERVICE_STATUS ignored{};
    // Fails when a stop is already pending (StopServices sent one): then only wait.
    if (!ControlService(service, SERVICE_CONTROL_STOP, &ignored)) {
      const DWORD error = GetLastError();
      if (error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL && error != ERROR_SERVICE_NOT_ACTIVE) {
        LogError(install, L"StopServiceAndWait", L"ControlService(stop)", error);
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

// Fails the install (nothing written) when the file cannot be read or any of
// its lines is refused; the reason goes to the installer's log.
extern "C" __declspec(dllexport) UINT __stdcall ImportConfig(MSIHANDLE install) {
  const std::wstring path = Property(install, L"CustomActionData");
  if (path.empty()) {
    Log(install, L"ImportConfig: no CONFIG_FILE given; the configuration is kept as it is");
    return ERROR_SUCCESS;
  }
  std::string text;
  std::wstring why;
  if (!ReadWholeFile(path, text, why)) {
    Log(install, L"ImportConfig: " + path + L": " + why);
    Log(install, L"ImportConfig: nothing imported; the install fails");
    return ERROR_INSTALL_FAILURE;
  }
  const qov::config::ConfigImport plan = qov::config::PlanConfigImport(text);
  if (plan.error) {
    Log(install, L"ImportConfig: " + Widen(qov::platform::FormatRegeditError(Narrow(path), *plan.error)));
    Log(install, L"ImportConfig: nothing imported; the install fails");
    return ERROR_INSTALL_FAILURE;
  }
  for (const auto& edit : plan.edits) {
    if (const LONG rc = Apply(edit); rc != ERROR_SUCCESS) {
      Log(install, L"ImportConfig: " + path + L": writing under HKEY_LOCAL_MACHINE" + Widen(edit.key) +
                       L" failed: " + ErrorText(static_cast<DWORD>(rc)) + L"; the install fails");
      return ERROR_INSTALL_FAILURE;
    }
  }
  Log(install, L"ImportConfig: imported " + path + L" into HKEY_LOCAL_MACHINE\\Software\\Vopa\\QOV Lumo (" +
                   std::to_wstring(plan.value_count) + L" values)");
  return ERROR_SUCCESS;
}

// Immediate, in a removal: sets QOV_OTHER_VERSION when another product of
// this package's UpgradeCode is installed. That one owns the service now
// (this removal is the last step of its upgrade): the service stays.
extern "C" __declspec(dllexport) UINT __stdcall FindOtherVersion(MSIHANDLE install) {
  const std::wstring upgrade_code = Property(install, L"UpgradeCode");
  const std::wstring own = Property(install, L"ProductCode");
  wchar_t product[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(upgrade_code.c_str(), 0, i, product) == ERROR_SUCCESS; ++i) {
    if (_wcsicmp(product, own.c_str()) == 0) continue;
    MsiSetPropertyW(install, L"QOV_OTHER_VERSION", product);
    Log(install, std::wstring(L"FindOtherVersion: ") + product + L" is installed too; the service is left to it");
    return ERROR_SUCCESS;
  }
  return ERROR_SUCCESS;
}

// Deferred, before the files of an upgrade or a repair are replaced: keeps a
// copy of the installed exe, for RestorePreviousVersion. Fails the install
// when the copy cannot be made (an upgrade could not be undone then).
extern "C" __declspec(dllexport) UINT __stdcall BackupServiceExe(MSIHANDLE install) {
  const std::wstring exe = ExePath(install);
  if (exe.empty()) return ERROR_SUCCESS;
  if (!CopyFileW(exe.c_str(), PreviousExePath(exe).c_str(), FALSE)) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      Log(install, L"BackupServiceExe: no installed exe to keep");
      return ERROR_SUCCESS;
    }
    Log(install, L"BackupServiceExe: cannot copy " + exe + L": " + ErrorText(error));
    return ERROR_INSTALL_FAILURE;
  }
  Log(install, L"BackupServiceExe: kept " + PreviousExePath(exe));
  return ERROR_SUCCESS;
}

// Rollback of a failed upgrade or repair: puts the kept exe back, registers
// the service again when it is gone (the kept exe's -INSTALL), starts it, and
// keeps the previous product findable (EnsureUpgradeCodeEntry). Its data:
// INSTALLDIR|UpgradeCode|the older products found|ProductCode.
extern "C" __declspec(dllexport) UINT __stdcall RestorePreviousVersion(MSIHANDLE install) {
  const std::wstring exe = ExePath(install);
  if (exe.empty()) return ERROR_SUCCESS;
  const std::vector<std::wstring> fields = DataFields(install);
  if (fields.size() == 4) {
    // The product that stays: the (first) older one of an upgrade, or this one in a repair.
    const std::wstring previous = !fields[2].empty() ? fields[2].substr(0, 38) : fields[3];
    EnsureUpgradeCodeEntry(install, L"RestorePreviousVersion", fields[1], previous);
  }
  const std::wstring previous = PreviousExePath(exe);
  if (MoveFileExW(previous.c_str(), exe.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    Log(install, L"RestorePreviousVersion: the previous exe is back");
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    Log(install, L"RestorePreviousVersion: cannot put back " + previous + L": " + ErrorText(GetLastError()));
  }
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (scm == nullptr) {
    LogError(install, L"RestorePreviousVersion", L"OpenSCManager", GetLastError());
    return ERROR_SUCCESS;
  }
  SC_HANDLE service = OpenServiceW(scm, kServiceName, SERVICE_START);
  if (service == nullptr && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
    const long rc = RunExe(exe, L"-INSTALL -SILENT");
    Log(install, L"RestorePreviousVersion: the service registered again, -INSTALL exit " + std::to_wstring(rc));
    service = OpenServiceW(scm, kServiceName, SERVICE_START);
  }
  if (service == nullptr) {
    LogError(install, L"RestorePreviousVersion", L"OpenService", GetLastError());
  } else {
    if (StartServiceW(service, 0, nullptr)) {
      Log(install, L"RestorePreviousVersion: the service started again");
    } else if (GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
      LogError(install, L"RestorePreviousVersion", L"StartService", GetLastError());
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(scm);
  return ERROR_SUCCESS;
}

// Commit of an upgrade or a repair, and a step of the removal: the kept copy goes.
extern "C" __declspec(dllexport) UINT __stdcall DropPreviousExe(MSIHANDLE install) {
  const std::wstring exe = ExePath(install);
  if (!exe.empty() && DeleteFileW(PreviousExePath(exe).c_str())) Log(install, L"DropPreviousExe: the kept copy is gone");
  return ERROR_SUCCESS;
}

// Immediate, after the old product's removal at the end of an upgrade: this
// product's UpgradeCode entry, which Wine's removal of the old one deletes.
extern "C" __declspec(dllexport) UINT __stdcall KeepUpgradeCode(MSIHANDLE install) {
  EnsureUpgradeCodeEntry(install, L"KeepUpgradeCode", Property(install, L"UpgradeCode"),
                         Property(install, L"ProductCode"));
  return ERROR_SUCCESS;
}

// Immediate, after the old product's removal at the end of an upgrade. A
// version installed by a package without FindOtherVersion (the first one)
// stops and deletes the service in its removal: registered again (this
// version's -INSTALL) and started when so. Nothing to do otherwise.
extern "C" __declspec(dllexport) UINT __stdcall KeepServiceRunning(MSIHANDLE install) {
  std::wstring folder = Property(install, L"INSTALLDIR");
  if (folder.empty()) return ERROR_SUCCESS;
  if (folder.back() != L'\\') folder += L'\\';
  const std::wstring exe = folder + kServiceExe;
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (scm == nullptr) {
    LogError(install, L"KeepServiceRunning", L"OpenSCManager", GetLastError());
    return ERROR_SUCCESS;
  }
  SC_HANDLE service = OpenServiceW(scm, kServiceName, SERVICE_START | SERVICE_QUERY_STATUS);
  if (service == nullptr && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
    const long rc = RunExe(exe, L"-INSTALL -SILENT");
    Log(install, L"KeepServiceRunning: the old version's removal deleted the service; registered again, -INSTALL exit " +
                     std::to_wstring(rc));
    service = OpenServiceW(scm, kServiceName, SERVICE_START | SERVICE_QUERY_STATUS);
  }
  if (service == nullptr) {
    LogError(install, L"KeepServiceRunning", L"OpenService", GetLastError());
  } else {
    SERVICE_STATUS_PROCESS status{};
    if (QueryStatus(service, status) && status.dwCurrentState == SERVICE_STOPPED) {
      if (StartServiceW(service, 0, nullptr)) {
        Log(install, L"KeepServiceRunning: the service was stopped by the old version's removal; started again");
      } else if (GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        LogError(install, L"KeepServiceRunning", L"StartService", GetLastError());
      }
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(scm);
  return ERROR_SUCCESS;
}
