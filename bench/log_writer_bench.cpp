// What one log line costs a caller: format, size check, write and flush.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "config/log_writer.h"

namespace {

void BM_LogLine(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "qov_log_bench";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "log.txt").string();
  qov::config::LogWriter log([] { return std::string("12/8/2026 4:50:12 PM"); });
  // Default threshold: rotation happens every few thousand lines, as in service.
  log.Configure(path, 1024);
  log.Open();
  for (auto _ : state) log.Write("Life message send ok");
  log.Close();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LogLine);

}  // namespace
