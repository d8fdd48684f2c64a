#include <atomic>
#include <cstdio>

#include "platform/command_line.h"
#include "platform/service_control.h"
#include "platform/win32_handle.h"

namespace qov::platform {
namespace {

constexpr UINT kControlMessage = WM_USER + 1;

inline void CloseScHandle(SC_HANDLE h) { ::CloseServiceHandle(h); }
using UniqueScHandle = UniqueWin32<SC_HANDLE, CloseScHandle, nullptr>;
inline void CloseEventSource(HANDLE h) { ::DeregisterEventSource(h); }
using UniqueEventSource = UniqueWin32<HANDLE, CloseEventSource, nullptr>;

const char* OrNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

class Win32ServiceHandle final : public ServiceHandle {
 public:
  explicit Win32ServiceHandle(SC_HANDLE h) : handle_(h) {}
  bool Delete(std::uint32_t& error) override {
    if (::DeleteService(handle_.get())) return true;
    error = ::GetLastError();
    return false;
  }
  bool SetRecoveryActions(const RecoveryActions& r, std::uint32_t& error) override {
    std::vector<SC_ACTION> actions;
    for (const std::uint32_t delay_ms : r.restart_delays_ms) actions.push_back({SC_ACTION_RESTART, delay_ms});
    // The SCM repeats the last action for every later failure: a final
    // "none" ends the restarts.
    actions.push_back({SC_ACTION_NONE, 0});
    SERVICE_FAILURE_ACTIONSA f{};
    f.dwResetPeriod = r.reset_period_s;
    f.cActions = static_cast<DWORD>(actions.size());
    f.lpsaActions = actions.data();
    if (::ChangeServiceConfig2A(handle_.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &f)) return true;
    error = ::GetLastError();
    return false;
  }

 private:
  UniqueScHandle handle_;
};

class Win32ScmConnection final : public ScmConnection {
 public:
  explicit Win32ScmConnection(SC_HANDLE h) : scm_(h) {}

  std::unique_ptr<ServiceHandle> Create(const ServiceConfig& c, std::uint32_t& tag, std::uint32_t& error) override {
    // The dependency list is a sequence of NUL-terminated names closed by an empty one.
    std::string deps = c.dependencies;
    if (!deps.empty()) deps += std::string(2, '\0');
    DWORD tag_id = 0;
    SC_HANDLE h = ::CreateServiceA(scm_.get(), c.name.c_str(), c.display_name.c_str(), SERVICE_ALL_ACCESS,
                                   c.service_type, c.start_type, c.error_control, c.binary_path.c_str(),
                                   c.load_group.c_str(), c.want_tag ? &tag_id : nullptr,
                                   deps.empty() ? nullptr : deps.c_str(), OrNull(c.account), c.password.c_str());
    if (!h) {
      error = ::GetLastError();
      return nullptr;
    }
    tag = tag_id;
    return std::make_unique<Win32ServiceHandle>(h);
  }

  std::unique_ptr<ServiceHandle> Open(const std::string& name, std::uint32_t& error) override {
    SC_HANDLE h = ::OpenServiceA(scm_.get(), name.c_str(), SERVICE_ALL_ACCESS);
    if (!h) {
      error = ::GetLastError();
      return nullptr;
    }
    return std::make_unique<Win32ServiceHandle>(h);
  }

 private:
  UniqueScHandle scm_;
};

class Win32ControlQueue final : public ControlQueue {
 public:
  void Create() override {
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    thread_id_.store(::GetCurrentThreadId(), std::memory_order_release);
  }

  bool Post(std::uint32_t code) override {
    const DWORD id = thread_id_.load(std::memory_order_acquire);
    return id != 0 && ::PostThreadMessageA(id, kControlMessage, code, 0);
  }

  Taken Next(bool wait, std::uint32_t& code) override {
    MSG msg;
    if (wait) {
      if (::GetMessageA(&msg, nullptr, 0, 0) <= 0) return Taken::Quit;
    } else if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      return Taken::Empty;
    }
    if (msg.hwnd == nullptr && msg.message == kControlMessage) {
      code = static_cast<std::uint32_t>(msg.wParam);
      return Taken::Control;
    }
    ::DispatchMessageA(&msg);
    return Taken::Other;
  }

 private:
  std::atomic<DWORD> thread_id_{0};
};

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_ENDSESSION) return 0;  // a user's log-off must not end the service
  return ::DefWindowProcA(hwnd, message, wparam, lparam);
}

class Win32MessageLoop final : public MessageLoop {
 public:
  Win32MessageLoop() : thread_id_(::GetCurrentThreadId()) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    ::RegisterClassA(&wc);
    window_ = ::CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue exists before anyone posts
  }
  ~Win32MessageLoop() override {
    if (window_) ::DestroyWindow(window_);
  }

  void Run() override {
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }

  void Quit() override {
    if (!window_ || !::PostMessageA(window_, WM_QUIT, 0, 0)) ::PostThreadMessageA(thread_id_, WM_QUIT, 0, 0);
  }

 private:
  static constexpr const char* kClassName = "QovLumoServiceHost";
  DWORD thread_id_;
  HWND window_ = nullptr;
};

class Win32EventSource final : public EventSource {
 public:
  explicit Win32EventSource(const std::string& name) : source_(::RegisterEventSourceA(nullptr, name.c_str())) {}
  void ReportError(const std::string& text) override {
    const char* strings[] = {text.c_str()};
    ::ReportEventA(source_.get(), EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
  }
  void Report(const EventRecord& e) override {
    std::vector<const char*> strings;
    for (const auto& s : e.strings) strings.push_back(s.c_str());
    const WORD type = e.type == EventType::Error     ? EVENTLOG_ERROR_TYPE
                      : e.type == EventType::Warning ? EVENTLOG_WARNING_TYPE
                                                     : EVENTLOG_INFORMATION_TYPE;
    ::ReportEventA(source_.get(), type, 0, e.id, nullptr, static_cast<WORD>(strings.size()), 0,
                   strings.empty() ? nullptr : strings.data(), nullptr);
  }

 private:
  UniqueEventSource source_;
};

// The SCM calls these plain functions; they reach the one service of the
// process through these slots, filled before the dispatcher starts and
// before the control handler is registered.
ServiceEntry g_entry;
std::atomic<ControlCallback> g_control{nullptr};
std::atomic<SERVICE_STATUS_HANDLE> g_status{nullptr};

void WINAPI EntryTrampoline(DWORD argc, LPSTR* argv) {
  std::vector<std::string> args;
  for (DWORD i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  g_entry(args);
}

void WINAPI ControlTrampoline(DWORD code) {
  if (ControlCallback cb = g_control.load(std::memory_order_acquire)) cb(code);
}

class Win32ServiceControl final : public ServiceControl {
 public:
  std::unique_ptr<ScmConnection> OpenScm(std::uint32_t& error) override {
    SC_HANDLE h = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!h) {
      error = ::GetLastError();
      return nullptr;
    }
    return std::make_unique<Win32ScmConnection>(h);
  }

  std::uint32_t RunDispatcher(const std::vector<std::string>& names, ServiceEntry entry) override {
    g_entry = std::move(entry);
    std::vector<std::string> copies = names;
    std::vector<SERVICE_TABLE_ENTRYA> table;
    for (auto& n : copies) table.push_back({n.data(), &EntryTrampoline});
    table.push_back({nullptr, nullptr});
    return ::StartServiceCtrlDispatcherA(table.data()) ? 0 : ::GetLastError();
  }

  bool RegisterControlHandler(const std::string& name, ControlCallback callback, std::uint32_t& error) override {
    g_control.store(callback, std::memory_order_release);
    SERVICE_STATUS_HANDLE h = ::RegisterServiceCtrlHandlerA(name.c_str(), &ControlTrampoline);
    if (!h) {
      error = ::GetLastError();
      return false;
    }
    g_status.store(h, std::memory_order_release);
    return true;
  }

  bool SetStatus(const ServiceStatus& s, std::uint32_t& error) override {
    SERVICE_STATUS st{};
    st.dwServiceType = s.service_type;
    st.dwCurrentState = s.current_state;
    st.dwControlsAccepted = s.controls_accepted;
    st.dwWin32ExitCode = s.win32_exit_code;
    st.dwServiceSpecificExitCode = s.service_specific_exit_code;
    st.dwCheckPoint = s.check_point;
    st.dwWaitHint = s.wait_hint;
    if (::SetServiceStatus(g_status.load(std::memory_order_acquire), &st)) return true;
    error = ::GetLastError();
    return false;
  }

  std::unique_ptr<ControlQueue> MakeControlQueue() override { return std::make_unique<Win32ControlQueue>(); }
  std::unique_ptr<MessageLoop> MakeMessageLoop() override { return std::make_unique<Win32MessageLoop>(); }

  std::unique_ptr<EventSource> OpenEventSource(const std::string& name) override {
    return std::make_unique<Win32EventSource>(name);
  }

  void ShowMessageBox(const std::string& title, const std::string& text, BoxKind kind) override {
    UINT flags = MB_OK;
    switch (kind) {
      case BoxKind::Error: flags |= MB_ICONERROR; break;
      case BoxKind::Information: flags |= MB_ICONINFORMATION; break;
      case BoxKind::Fatal: flags |= MB_ICONERROR | MB_TASKMODAL; break;
    }
    // A box with one OK button gives IDOK once it was seen; anything else
    // means there was nowhere to show it.
    if (::MessageBoxA(nullptr, text.c_str(), title.c_str(), flags) != IDOK) {
      std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
      std::fflush(stderr);
    }
  }

  std::string SystemErrorText(std::uint32_t code) override {
    char* buffer = nullptr;
    const DWORD len = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text = len && buffer ? std::string(buffer, len) : std::string();
    if (buffer) ::LocalFree(buffer);
    return TrimSystemMessage(std::move(text));
  }

  std::string ModuleFileName() override {
    std::string path(MAX_PATH, '\0');
    for (;;) {
      const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (n < path.size()) {
        path.resize(n);
        return path;
      }
      path.resize(path.size() * 2);
    }
  }
};

}  // namespace

ServiceControl& SystemServiceControl() {
  static Win32ServiceControl control;
  return control;
}

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> words = SplitCommandLine(::GetCommandLineA());
  if (!words.empty()) words.erase(words.begin());
  return words;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace qov::platform
