// Raw figures for the system-load line: the processor object of the
// performance data, total CPU times and the memory status.
#pragma once

#include <cstdint>
#include <optional>

namespace qov::platform {

inline constexpr std::int32_t kErrorMoreData = 234;

// Reads the performance data of the processor object (value "238") into
// `buffer` of `size` bytes. Returns the system's code: 0 with the data in
// the buffer, kErrorMoreData when it does not fit, anything else on failure.
// Systems without performance data answer with a failure code.
std::int32_t QueryProcessorPerfData(std::uint8_t* buffer, std::uint32_t size);

// Idle and total time summed over all processors since boot, in the
// system's units (100 ns on Windows, clock ticks on Linux).
struct CpuTimes {
  std::uint64_t idle;
  std::uint64_t total;
};
std::optional<CpuTimes> SystemCpuTimes();

// Physical memory and commit figures in bytes. Windows: the memory status
// record. Linux: MemTotal/MemAvailable, and CommitLimit/CommitLimit minus
// Committed_AS for the "swap" pair (the commit limit and available commit).
struct MemoryStatus {
  std::uint32_t memory_load = 0;  // percent of physical memory in use
  std::uint64_t total_phys = 0;
  std::uint64_t avail_phys = 0;
  std::uint64_t total_page_file = 0;
  std::uint64_t avail_page_file = 0;
};
MemoryStatus QueryMemoryStatus();

}  // namespace qov::platform
