// The published layout of the system's performance data: a PERF_DATA_BLOCK
// of object types, each with its counter definitions and instances. Read
// byte by byte, little-endian, on any system, so that the parsing is tested
// and fuzzed natively as well.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qov::platform {

// The processor object ("238") and its "% Processor Time" counter.
inline constexpr std::uint32_t kProcessorObjectIndex = 238;
inline constexpr std::uint32_t kProcessorTimeCounterIndex = 6;

// kQueryFailed: the system refused the query, or its data outgrew the
// sampler's buffer; nothing was read. A walk never gives it.
enum class SampleStatus { kOk, kNoProcessorObject, kNoCpuCounter, kQueryFailed };

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

}  // namespace qov::platform
