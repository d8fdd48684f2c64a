// The text of the supervisor's "System Load: CPU - " line. CPU usage comes
// from the performance data; where the processor object is missing (Wine,
// Linux, broken counters) it comes from the system's total CPU times.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "config/log.h"
#include "platform/system_load.h"
#include "supervision/sys_load.h"

namespace qov::supervision {

struct LoadSources {
  CpuSampler::Query perf_data = platform::QueryProcessorPerfData;
  std::function<std::optional<platform::CpuTimes>()> cpu_times = platform::SystemCpuTimes;
  std::function<platform::MemoryStatus()> memory = platform::QueryMemoryStatus;
};

class SystemLoadLine {
 public:
  // `log` gets the sampler's error text, once.
  SystemLoadLine(config::Log& log, LoadSources sources = {});

  // The first sample, taken when the supervisor starts.
  void Prime();
  // "<usage>%; <memory text>", or nothing when no CPU figure can be had.
  std::optional<std::string> Text();

 private:
  std::optional<std::int32_t> PerfUsage();
  std::optional<std::int32_t> FallbackUsage();
  void SampleCpuTimes();
  void ReportOnce(SampleStatus status);

  config::Log& log_;
  LoadSources sources_;
  CpuSampler sampler_;
  std::int32_t instances_ = -1;
  std::optional<platform::CpuTimes> previous_times_;
  std::optional<platform::CpuTimes> current_times_;
  bool reported_ = false;
};

}  // namespace qov::supervision
