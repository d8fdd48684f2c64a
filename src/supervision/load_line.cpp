#include "supervision/load_line.h"

#include <utility>

namespace qov::supervision {

SystemLoadLine::SystemLoadLine(config::Log& log, LoadSources sources)
    : log_(log), sources_(std::move(sources)), sampler_(sources_.perf_data) {}

void SystemLoadLine::Prime() {
  // The log is not open yet; a failure here shows again, and is logged, at the first line.
  sampler_.InstanceCount(instances_);
  SampleCpuTimes();
}

std::optional<std::string> SystemLoadLine::Text() {
  // The fallback's times are sampled on every line so that its figure always
  // covers the period since the line before.
  SampleCpuTimes();
  std::optional<std::int32_t> usage = PerfUsage();
  if (!usage) usage = FallbackUsage();
  if (!usage) return std::nullopt;
  return std::to_string(*usage) + "%; " + MemoryText(sources_.memory());
}

std::optional<std::int32_t> SystemLoadLine::PerfUsage() {
  SampleStatus status = sampler_.TakeSample();
  if (status == SampleStatus::kOk) status = sampler_.InstanceCount(instances_);
  std::int32_t usage = 0;
  if (status == SampleStatus::kOk) status = sampler_.CpuUsage(instances_ - 1, usage);
  if (status != SampleStatus::kOk) {
    ReportOnce(status);
    return std::nullopt;
  }
  return usage;
}

std::optional<std::int32_t> SystemLoadLine::FallbackUsage() {
  if (!previous_times_ || !current_times_) return std::nullopt;
  return UsagePercent(previous_times_->idle, current_times_->idle, previous_times_->total, current_times_->total);
}

void SystemLoadLine::SampleCpuTimes() {
  previous_times_ = current_times_;
  current_times_ = sources_.cpu_times();
}

void SystemLoadLine::ReportOnce(SampleStatus status) {
  if (reported_) return;
  reported_ = true;
  log_.Write(SampleErrorText(status));
}

}  // namespace qov::supervision
