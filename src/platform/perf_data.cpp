#include "platform/perf_data.h"

#include <cstring>
#include <optional>

namespace qov::platform {
namespace {

// Byte positions in the published performance data records.
namespace block {
constexpr std::size_t kHeaderLength = 24;
constexpr std::size_t kNumObjectTypes = 28;
constexpr std::size_t kSystemTime = 36;  // SYSTEMTIME, eight 16-bit fields
constexpr std::size_t kMinSize = kSystemTime + 16;
}  // namespace block
namespace object {
constexpr std::size_t kTotalByteLength = 0;
constexpr std::size_t kDefinitionLength = 4;
constexpr std::size_t kHeaderLength = 8;
constexpr std::size_t kNameTitleIndex = 12;
constexpr std::size_t kNumCounters = 32;
constexpr std::size_t kNumInstances = 40;
constexpr std::size_t kSize = 64;
}  // namespace object
namespace counter {
constexpr std::size_t kByteLength = 0;
constexpr std::size_t kNameTitleIndex = 4;
constexpr std::size_t kCounterOffset = 36;
constexpr std::size_t kSize = 40;
}  // namespace counter
constexpr std::size_t kInstanceSize = 24;      // its ByteLength is the first field
constexpr std::size_t kCounterBlockSize = 4;   // its ByteLength is the only field

// Little-endian reads that refuse to leave the data.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

  bool Fits(std::uint64_t pos, std::uint64_t length) const {
    return pos <= data_.size() && length <= data_.size() - pos;
  }
  template <typename T>
  std::optional<T> Read(std::uint64_t pos) const {
    if (!Fits(pos, sizeof(T))) return std::nullopt;
    T v{};
    std::memcpy(&v, data_.data() + pos, sizeof(T));
    return v;
  }
  std::size_t Size() const { return data_.size(); }

 private:
  std::span<const std::uint8_t> data_;
};

std::optional<std::uint64_t> FindProcessorObject(const Reader& r) {
  if (!r.Fits(0, block::kMinSize)) return std::nullopt;
  std::uint64_t pos = *r.Read<std::uint32_t>(block::kHeaderLength);
  const std::uint32_t count = *r.Read<std::uint32_t>(block::kNumObjectTypes);
  for (std::uint32_t i = 0; i < count && r.Fits(pos, object::kSize); ++i) {
    if (*r.Read<std::uint32_t>(pos + object::kNameTitleIndex) == kProcessorObjectIndex) return pos;
    const std::uint32_t step = *r.Read<std::uint32_t>(pos + object::kTotalByteLength);
    if (step == 0) break;  // would look at the same object again
    pos += step;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> FindCounterOffset(const Reader& r, std::uint64_t obj) {
  std::uint64_t pos = obj + *r.Read<std::uint32_t>(obj + object::kHeaderLength);
  const std::uint32_t count = *r.Read<std::uint32_t>(obj + object::kNumCounters);
  for (std::uint32_t i = 0; i < count && r.Fits(pos, counter::kSize); ++i) {
    if (*r.Read<std::uint32_t>(pos + counter::kNameTitleIndex) == kProcessorTimeCounterIndex) {
      return *r.Read<std::uint32_t>(pos + counter::kCounterOffset);
    }
    const std::uint32_t step = *r.Read<std::uint32_t>(pos + counter::kByteLength);
    if (step == 0) break;
    pos += step;
  }
  return std::nullopt;
}

bool ReadInstances(const Reader& r, std::uint64_t obj, std::uint32_t counter_offset, std::int32_t count,
                   std::vector<std::uint64_t>& values) {
  values.assign(static_cast<std::size_t>(count), 0);
  std::uint64_t pos = obj + *r.Read<std::uint32_t>(obj + object::kDefinitionLength);
  for (std::int32_t i = 0; i < count; ++i) {
    const auto def_length = r.Read<std::uint32_t>(pos);
    if (!def_length || !r.Fits(pos, kInstanceSize)) return false;
    const std::uint64_t counters = pos + *def_length;
    const auto block_length = r.Read<std::uint32_t>(counters);
    const auto value = r.Read<std::uint64_t>(counters + counter_offset);
    if (!block_length || !value) return false;
    values[static_cast<std::size_t>(i)] = *value;
    pos = counters + *block_length;
  }
  return true;
}

}  // namespace

SampleStatus WalkProcessorData(std::span<const std::uint8_t> data, std::int32_t instances,
                               std::int32_t& found_instances, PerfReading& out) {
  const Reader r(data);
  const auto obj = FindProcessorObject(r);
  if (!obj) return SampleStatus::kNoProcessorObject;
  const std::int32_t listed = *r.Read<std::int32_t>(*obj + object::kNumInstances);
  // Every instance needs at least its definition and counter block.
  if (listed < 0 || static_cast<std::uint64_t>(listed) > r.Size() / (kInstanceSize + kCounterBlockSize)) {
    return SampleStatus::kNoProcessorObject;
  }
  found_instances = listed;
  const auto counter_offset = FindCounterOffset(r, *obj);
  if (!counter_offset) return SampleStatus::kNoCpuCounter;
  if (!ReadInstances(r, *obj, *counter_offset, instances < 0 ? listed : instances, out.values)) {
    return SampleStatus::kNoProcessorObject;
  }
  std::uint16_t fields[8];
  std::memcpy(fields, data.data() + block::kSystemTime, sizeof fields);
  out.time_100ns = SystemTimeTo100ns(fields);
  return SampleStatus::kOk;
}

std::uint64_t SystemTimeTo100ns(const std::uint16_t f[8]) {
  // Days from 1601-01-01 by the proleptic Gregorian calendar.
  const std::int64_t month = f[1];
  const std::int64_t y = static_cast<std::int64_t>(f[0]) - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + f[3] - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days_since_1970 = era * 146097 + doe - 719468;
  const std::int64_t days = days_since_1970 + 134774;  // 1601-01-01 to 1970-01-01
  const std::int64_t ms = ((days * 24 + f[4]) * 60 + f[5]) * 60000 + std::int64_t{f[6]} * 1000 + f[7];
  return static_cast<std::uint64_t>(ms) * 10000u;
}

}  // namespace qov::platform
