#include "platform/status_host.h"
#include "platform/win32.h"
#include "platform/win32_handle.h"

namespace qov::platform {

std::uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

bool ProcessRuns(std::uint32_t pid) {
  if (pid == 0) return false;
  const UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  // Denied: it exists, under an account this one may not open.
  if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;
  return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void AnnounceStatusLine(const std::string&) {}

}  // namespace qov::platform
