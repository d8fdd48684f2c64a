// CPU usage from the processor object of the performance data, and the
// memory text of the system-load line.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/system_load.h"

namespace qov::supervision {

inline constexpr std::uint32_t kPerfBufferStart = 8192;
inline constexpr std::uint32_t kPerfBufferStep = 4096;
// The buffer never grows past this; data that does not fit fails the sample.
inline constexpr std::uint32_t kPerfBufferLimit = 16u << 20;
inline constexpr std::uint32_t kProcessorObjectIndex = 238;
inline constexpr std::uint32_t kProcessorTimeCounterIndex = 6;

// kQueryFailed: the system refused the query, or its data outgrew
// kPerfBufferLimit; nothing was read. It is reported with the text of
// kNoProcessorObject, since the object could not be had.
enum class SampleStatus { kOk, kNoProcessorObject, kNoCpuCounter, kQueryFailed };

// "Unable to locate the "Processor" performance object" and its counter twin.
std::string SampleErrorText(SampleStatus status);

// One instance's raw counter values of a walk, and the block's time stamp.
struct PerfReading {
  std::vector<std::uint64_t> values;
  std::uint64_t time_100ns = 0;
};

// Walks a performance data block for the processor object and its counter 6,
// never reading outside `data`. `instances` < 0 takes the object's own
// instance count (reported in `found_instances`); otherwise that many
// instances are read. A block whose records do not fit gives kNoProcessorObject.
SampleStatus WalkProcessorData(std::span<const std::uint8_t> data, std::int32_t instances,
                               std::int32_t& found_instances, PerfReading& out);

// A SYSTEMTIME's fields (year..milliseconds) as 100-ns units since 1601-01-01.
std::uint64_t SystemTimeTo100ns(const std::uint16_t fields[8]);

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
