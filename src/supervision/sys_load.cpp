#include "supervision/sys_load.h"

#include <algorithm>

namespace qov::supervision {

std::string SampleErrorText(SampleStatus status) {
  switch (status) {
    case SampleStatus::kOk:
      return {};
    case SampleStatus::kNoProcessorObject:
    case SampleStatus::kQueryFailed:
      return "Unable to locate the \"Processor\" performance object";
    case SampleStatus::kNoCpuCounter:
      return "Unable to locate the \"% of CPU usage\" performance counter";
  }
  return {};
}

std::int32_t UsagePercent(std::uint64_t idle_prev, std::uint64_t idle_cur, std::uint64_t time_prev,
                          std::uint64_t time_cur) {
  if (time_cur == time_prev) return 0;
  // Signed 64-bit differences; the product wraps rather than overflow.
  const auto d_idle = static_cast<std::int64_t>(idle_cur - idle_prev);
  const auto d_time = static_cast<std::int64_t>(time_cur - time_prev);
  const auto product = static_cast<std::int64_t>(static_cast<std::uint64_t>(d_idle) * 100u);
  const std::int64_t quotient =
      d_time == -1 ? static_cast<std::int64_t>(0u - static_cast<std::uint64_t>(product)) : product / d_time;
  const auto idle_share = static_cast<std::int32_t>(quotient);
  return static_cast<std::int32_t>(100 - std::int64_t{idle_share});
}

CpuSampler::CpuSampler(Query query) : query_(std::move(query)), buffer_(kPerfBufferStart, 0) {}

SampleStatus CpuSampler::TakeSample() {
  std::int32_t code = query_(buffer_.data(), BufferSize());
  while (code == platform::kErrorMoreData && BufferSize() < kPerfBufferLimit) {
    buffer_.resize(std::min<std::size_t>(buffer_.size() + kPerfBufferStep, kPerfBufferLimit), 0);
    code = query_(buffer_.data(), BufferSize());
  }
  // The buffer then holds a previous sample or nothing: parsing it would
  // read stale values as a new sample.
  if (code != 0) return SampleStatus::kQueryFailed;
  platform::PerfReading reading;
  std::int32_t found = -1;
  const SampleStatus status = platform::WalkProcessorData(buffer_, instance_count_, found, reading);
  if (status == SampleStatus::kNoProcessorObject) return status;
  if (instance_count_ < 0) {
    instance_count_ = found;
    current_.assign(static_cast<std::size_t>(found), 0);
    previous_.assign(static_cast<std::size_t>(found), 0);
  }
  if (status != SampleStatus::kOk) return status;
  previous_ = current_;
  current_ = std::move(reading.values);
  previous_time_ = current_time_;
  current_time_ = reading.time_100ns;
  return SampleStatus::kOk;
}

SampleStatus CpuSampler::InstanceCount(std::int32_t& count) {
  SampleStatus status = SampleStatus::kOk;
  if (instance_count_ < 0) status = TakeSample();
  count = instance_count_;
  return status;
}

SampleStatus CpuSampler::CpuUsage(std::int32_t index, std::int32_t& usage) {
  usage = 0;
  if (instance_count_ < 0) {
    const SampleStatus status = TakeSample();
    if (status != SampleStatus::kOk) return status;
  }
  if (index < 0 || index >= instance_count_) return SampleStatus::kOk;
  const auto i = static_cast<std::size_t>(index);
  usage = UsagePercent(previous_[i], current_[i], previous_time_, current_time_);
  return SampleStatus::kOk;
}

std::string UnsignedDecimal(std::uint64_t value) {
  char digits[20];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::string out;
  while (n > 0) out.push_back(digits[--n]);
  return out;
}

std::string MemoryText(const platform::MemoryStatus& m) {
  return "RAM in use - " + std::to_string(m.memory_load) + "%; " +
         "Total RAM - " + UnsignedDecimal(m.total_phys / 1024) + " Kbytes; " +
         "Free RAM - " + UnsignedDecimal(m.avail_phys / 1024) + " Kbytes; " +
         "Total swap - " + UnsignedDecimal(m.total_page_file / 1024) + " Kbytes; " +
         "Free swap - " + UnsignedDecimal(m.avail_page_file / 1024) + " Kbytes;";
}

}  // namespace qov::supervision
