// The real load sources: the figures exist and hang together.
#include "platform/system_load.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/recording_log.h"
#include "supervision/load_line.h"

namespace qov {
namespace {

TEST(SystemLoadSourcesTest, CpuTimesAndMemoryArePlausible) {
  const auto first = platform::SystemCpuTimes();
  ASSERT_TRUE(first.has_value());
  EXPECT_LE(first->idle, first->total);
  // The system's counters move in coarse steps: work until they do.
  auto second = platform::SystemCpuTimes();
  volatile std::uint64_t spin = 0;
  for (int round = 0; round < 500 && second && second->total == first->total; ++round) {
    for (int i = 0; i < 2'000'000; ++i) spin = spin + 1;
    second = platform::SystemCpuTimes();
  }
  ASSERT_TRUE(second.has_value());
  EXPECT_GT(second->total, first->total);
  EXPECT_LE(second->idle - first->idle, second->total - first->total);

  const platform::MemoryStatus m = platform::QueryMemoryStatus();
  EXPECT_GT(m.total_phys, 64ull << 20);
  EXPECT_LE(m.avail_phys, m.total_phys);
  EXPECT_LE(m.avail_page_file, m.total_page_file);
  EXPECT_LE(m.memory_load, 100u);
}

TEST(SystemLoadSourcesTest, LoadLineHasItsShape) {
  test::RecordingLog log;
  supervision::SystemLoadLine line(log);
  line.Prime();
  volatile std::uint64_t spin = 0;
  for (int i = 0; i < 20'000'000; ++i) spin = spin + 1;
  const auto text = line.Text();
  ASSERT_TRUE(text.has_value());
  EXPECT_TRUE(std::regex_match(*text, std::regex("-?[0-9]+%; RAM in use - [0-9]+%; Total RAM - [0-9]+ Kbytes; "
                                                 "Free RAM - [0-9]+ Kbytes; Total swap - [0-9]+ Kbytes; "
                                                 "Free swap - [0-9]+ Kbytes;")))
      << *text;
}

}  // namespace
}  // namespace qov
