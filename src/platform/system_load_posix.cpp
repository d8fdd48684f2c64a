#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/system_load.h"

namespace qov::platform {
namespace {

constexpr std::int32_t kFileNotFound = 2;

std::map<std::string, std::uint64_t> MeminfoKilobytes() {
  std::map<std::string, std::uint64_t> out;
  std::ifstream in("/proc/meminfo");
  std::string key;
  std::uint64_t value = 0;
  std::string unit;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    if (fields >> key >> value) out[key] = value;
  }
  return out;
}

}  // namespace

std::int32_t QueryProcessorPerfData(std::uint8_t*, std::uint32_t) { return kFileNotFound; }

std::optional<CpuTimes> SystemCpuTimes() {
  std::ifstream in("/proc/stat");
  std::string label;
  if (!(in >> label) || label != "cpu") return std::nullopt;
  // user nice system idle iowait irq softirq steal (guest time is inside user)
  std::uint64_t v[8] = {};
  for (auto& x : v) {
    if (!(in >> x)) x = 0;
  }
  CpuTimes t{v[3] + v[4], 0};
  for (auto x : v) t.total += x;
  return t;
}

MemoryStatus QueryMemoryStatus() {
  auto kb = MeminfoKilobytes();
  MemoryStatus m;
  m.total_phys = kb["MemTotal:"] * 1024;
  m.avail_phys = kb["MemAvailable:"] * 1024;
  m.total_page_file = kb["CommitLimit:"] * 1024;
  const std::uint64_t committed = kb["Committed_AS:"] * 1024;
  m.avail_page_file = committed < m.total_page_file ? m.total_page_file - committed : 0;
  if (m.total_phys > 0) m.memory_load = static_cast<std::uint32_t>((m.total_phys - m.avail_phys) * 100 / m.total_phys);
  return m;
}

}  // namespace qov::platform
