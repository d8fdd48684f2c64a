#include <vector>

#include "platform/process.h"
#include "platform/win32_handle.h"

namespace qov::platform {

bool StartProcess(const std::string& command_line) {
  STARTUPINFOA si{};
  si.cb = sizeof si;  // 68 on the 32-bit layout; the record is zero-filled otherwise
  PROCESS_INFORMATION pi{};
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');  // CreateProcessA may write into the command line
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return false;
  }
  UniqueHandle process(pi.hProcess);
  UniqueHandle thread(pi.hThread);
  return true;
}

}  // namespace qov::platform
