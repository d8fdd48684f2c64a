#include <vector>

#include "platform/process.h"
#include "platform/win32_handle.h"

namespace qov::platform {
namespace {

class Win32ChildProcess final : public ChildProcess {
 public:
  explicit Win32ChildProcess(HANDLE process) : process_(process) {}
  bool Running() override { return ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

 private:
  UniqueHandle process_;
};

// Creates the process; on success the caller owns both handles.
bool Create(const std::string& command_line, PROCESS_INFORMATION& pi) {
  STARTUPINFOA si{};
  si.cb = sizeof si;  // 68 on the 32-bit layout; the record is zero-filled otherwise
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');  // CreateProcessA may write into the command line
  return ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
}

}  // namespace

bool StartProcess(const std::string& command_line) { return StartWatchedProcess(command_line) != nullptr; }

std::unique_ptr<ChildProcess> StartWatchedProcess(const std::string& command_line) {
  PROCESS_INFORMATION pi{};
  if (!Create(command_line, pi)) return nullptr;
  UniqueHandle thread(pi.hThread);
  return std::make_unique<Win32ChildProcess>(pi.hProcess);
}

}  // namespace qov::platform
