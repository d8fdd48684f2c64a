// CPU usage from the processor object of the performance data (read by
// platform/perf_data), and the memory text of the system-load line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/perf_data.h"
#include "platform/system_load.h"

namespace qov::supervision {

inline constexpr std::uint32_t kPerfBufferStart = 8192;
inline constexpr std::uint32_t kPerfBufferStep = 4096;
// The buffer never grows past this; data that does not fit fails the sample.
inline constexpr std::uint32_t kPerfBufferLimit = 16u << 20;

using platform::SampleStatus;

// "Unable to locate the "Processor" performance object" and its counter twin;
// kQueryFailed, since the object could not be had, says the first.
std::string SampleErrorText(SampleStatus status);

// 100 - idle share in percent, in signed 64-bit arithmetic truncating
// towards zero, not clamped; 0 when no time passed.
std::int32_t UsagePercent(std::uint64_t idle_prev, std::uint64_t idle_cur, std::uint64_t time_prev,
                          std::uint64_t time_cur);

// The process-wide CPU sampler over the performance data.
class CpuSampler {
 public:
  using Query = std::function<std::int32_t(std::uint8_t*, std::uint32_t)>;
  explicit CpuSampler(Query query = platform::QueryProcessorPerfData);

  // Reads the data once (growing the buffer by 4096 while it is too small,
  // up to kPerfBufferLimit) and shifts the samples. A query that fails or
  // does not fit leaves every sample as it was.
  SampleStatus TakeSample();
  // Samples first while the count is unknown.
  SampleStatus InstanceCount(std::int32_t& count);
  // 0 for an index out of range and for two samples with one time stamp.
  SampleStatus CpuUsage(std::int32_t index, std::int32_t& usage);

  std::uint32_t BufferSize() const { return static_cast<std::uint32_t>(buffer_.size()); }

 private:
  Query query_;
  std::vector<std::uint8_t> buffer_;
  std::int32_t instance_count_ = -1;
  std::vector<std::uint64_t> current_;
  std::vector<std::uint64_t> previous_;
  std::uint64_t current_time_ = 0;
  std::uint64_t previous_time_ = 0;
};

// Decimal digits, no sign, no grouping, no leading zeros.
std::string UnsignedDecimal(std::uint64_t value);

// "RAM in use - <load>%; Total RAM - <kB> Kbytes; Free RAM - ... Kbytes;"
std::string MemoryText(const platform::MemoryStatus& m);

}  // namespace qov::supervision
