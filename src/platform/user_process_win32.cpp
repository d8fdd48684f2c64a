#include <vector>

#include "platform/user_process.h"
#include "platform/win32.h"
#include "platform/win32_environment.h"
#include "platform/win32_handle.h"

#include <tlhelp32.h>

namespace qov::platform {
namespace {

constexpr DWORD kProcessAccess = 0x20400;  // READ_CONTROL | PROCESS_QUERY_INFORMATION
constexpr DWORD kTokenAccess = 0xF00FF;    // standard rights and every token right up to TOKEN_ADJUST_DEFAULT

class Win32Token final : public UserToken {
 public:
  explicit Win32Token(HANDLE h) : handle(h) {}
  UniqueHandle handle;
};

inline void ReleaseLibrary(HMODULE m) { ::FreeLibrary(m); }
using UniqueModule = UniqueWin32<HMODULE, ReleaseLibrary, nullptr>;

// GetProcAddress gives a generic pointer; passing through void(*)() keeps
// the cast to the real signature explicit.
template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> out;
  UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return out;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot.get(), &entry); more; more = ::Process32Next(snapshot.get(), &entry)) {
    out.push_back({entry.th32ProcessID, std::string(entry.szExeFile, strnlen(entry.szExeFile, MAX_PATH))});
  }
  return out;
}

std::unique_ptr<UserToken> ConsoleUserToken() {
  // Found at run time: older systems lack them.
  UniqueModule wtsapi(::LoadLibraryA("wtsapi32.dll"));
  UniqueModule kernel(::LoadLibraryA("kernel32.dll"));
  if (!wtsapi || !kernel) return nullptr;
  const auto query_user_token = Lookup<BOOL(WINAPI*)(ULONG, PHANDLE)>(wtsapi.get(), "WTSQueryUserToken");
  const auto console_session = Lookup<DWORD(WINAPI*)()>(kernel.get(), "WTSGetActiveConsoleSessionId");
  if (!query_user_token || !console_session) return nullptr;
  HANDLE token = nullptr;
  if (!query_user_token(console_session(), &token) || !token) return nullptr;
  return std::make_unique<Win32Token>(token);
}

std::unique_ptr<UserToken> ProcessUserToken(std::uint32_t pid) {
  UniqueHandle process(::OpenProcess(kProcessAccess, FALSE, pid));
  if (!process) return nullptr;
  HANDLE token = nullptr;
  if (!::OpenProcessToken(process.get(), kTokenAccess, &token)) return nullptr;
  return std::make_unique<Win32Token>(token);
}

CreateResult StartProcessAsUser(UserToken& token, const std::string& command_line) {
  const HANDLE user = static_cast<Win32Token&>(token).handle.get();
  // The user's interactive desktop, not the service's invisible one.
  char desktop[] = "winsta0\\default";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION info{};
  // Zero-filled, length included: the default descriptor, not inheritable.
  SECURITY_ATTRIBUTES process_attributes{};
  SECURITY_ATTRIBUTES thread_attributes{};
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');  // the call may write into the command line
  // The user's own profile and temp folders rather than LocalSystem's. When
  // no block can be made the program still starts, with the service's.
  const UserEnvironmentBlock environment(user);
  DWORD flags = CREATE_DEFAULT_ERROR_MODE;
  if (environment) flags |= CREATE_UNICODE_ENVIRONMENT;
  if (!::CreateProcessAsUserA(user, nullptr, line.data(), &process_attributes, &thread_attributes, FALSE, flags,
                              environment.get(), nullptr, &startup, &info)) {
    return {false, ::GetLastError()};
  }
  UniqueHandle thread(info.hThread);
  UniqueHandle process(info.hProcess);
  thread.reset();  // thread handle first, then the process's
  return {true, 0};
}

}  // namespace qov::platform
