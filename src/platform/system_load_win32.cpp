#include "platform/system_load.h"

#include <string>

#include "platform/perf_data.h"
#include "platform/win32.h"

namespace qov::platform {
namespace {

std::uint64_t FromFileTime(const FILETIME& t) {
  return static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

}  // namespace

std::int32_t QueryProcessorPerfData(std::uint8_t* buffer, std::uint32_t size) {
  static const std::string object = std::to_string(kProcessorObjectIndex);
  DWORD length = size;
  return static_cast<std::int32_t>(
      ::RegQueryValueExA(HKEY_PERFORMANCE_DATA, object.c_str(), nullptr, nullptr, buffer, &length));
}

std::optional<CpuTimes> SystemCpuTimes() {
  FILETIME idle{}, kernel{}, user{};
  if (!::GetSystemTimes(&idle, &kernel, &user)) return std::nullopt;
  // Kernel time includes the idle time.
  return CpuTimes{FromFileTime(idle), FromFileTime(kernel) + FromFileTime(user)};
}

MemoryStatus QueryMemoryStatus() {
  MEMORYSTATUSEX m{};
  m.dwLength = sizeof m;
  MemoryStatus out;
  if (!::GlobalMemoryStatusEx(&m)) return out;  // zeros: the line still shows the CPU figure
  out.memory_load = m.dwMemoryLoad;
  out.total_phys = m.ullTotalPhys;
  out.avail_phys = m.ullAvailPhys;
  out.total_page_file = m.ullTotalPageFile;
  out.avail_page_file = m.ullAvailPageFile;
  return out;
}

}  // namespace qov::platform
