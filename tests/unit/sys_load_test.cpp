#include "supervision/sys_load.h"

#include <gtest/gtest.h>

#include "supervision/load_line.h"
#include "support/perf_block_builder.h"
#include "support/recording_log.h"

namespace qov::supervision {
namespace {

using test::PerfBlockBuilder;

constexpr std::uint64_t kSecond = 10'000'000;  // in 100 ns

// Serves a block (or a failure code) to the sampler's query.
struct FakePerfData {
  std::vector<std::uint8_t> block;
  std::int32_t code = 0;  // answered when the block fits
  std::vector<std::uint32_t> sizes_asked;

  CpuSampler::Query AsQuery() {
    return [this](std::uint8_t* buffer, std::uint32_t size) {
      sizes_asked.push_back(size);
      if (code != 0) return code;
      if (block.size() > size) return platform::kErrorMoreData;
      std::copy(block.begin(), block.end(), buffer);
      return 0;
    };
  }
};

PerfBlockBuilder ThreeInstances(std::uint64_t a, std::uint64_t b, std::uint64_t total, std::uint16_t second) {
  PerfBlockBuilder p;
  p.system_time[6] = second;
  p.objects = {{230, {6}, {1}}, {238, {2, 6}, {a, b, total}}};
  return p;
}

TEST(SysLoadTest, ThreeInstancesUsageFromTwoSamples) {
  FakePerfData data;
  CpuSampler sampler(data.AsQuery());
  data.block = ThreeInstances(0, 0, 0, 0).Build();
  std::int32_t count = 0;
  EXPECT_EQ(sampler.InstanceCount(count), SampleStatus::kOk);
  EXPECT_EQ(count, 3);
  // 10 s later: instance 0 idle 2.5 s, instance 1 idle 10 s, total idle 6.25 s.
  data.block = ThreeInstances(kSecond * 5 / 2, kSecond * 10, kSecond * 25 / 4, 10).Build();
  EXPECT_EQ(sampler.TakeSample(), SampleStatus::kOk);
  std::int32_t usage = -7;
  EXPECT_EQ(sampler.CpuUsage(0, usage), SampleStatus::kOk);
  EXPECT_EQ(usage, 75);
  sampler.CpuUsage(1, usage);
  EXPECT_EQ(usage, 0);
  sampler.CpuUsage(2, usage);
  EXPECT_EQ(usage, 38);  // 100 - 62.5 truncated to 62
  sampler.CpuUsage(-1, usage);
  EXPECT_EQ(usage, 0);
  sampler.CpuUsage(3, usage);
  EXPECT_EQ(usage, 0);
}

TEST(SysLoadTest, SameTimeStampGivesZeroAndNoClampOtherwise) {
  FakePerfData data;
  CpuSampler sampler(data.AsQuery());
  data.block = ThreeInstances(0, 0, 0, 5).Build();
  sampler.TakeSample();
  data.block = ThreeInstances(kSecond, kSecond, kSecond, 5).Build();
  sampler.TakeSample();
  std::int32_t usage = -1;
  sampler.CpuUsage(2, usage);
  EXPECT_EQ(usage, 0);
  // The clock set back one second: the reading leaves 0..100.
  data.block = ThreeInstances(2 * kSecond, 2 * kSecond, 2 * kSecond, 4).Build();
  sampler.TakeSample();
  sampler.CpuUsage(2, usage);
  EXPECT_EQ(usage, 200);
}

TEST(SysLoadTest, UsageArithmeticIsSignedAndTruncating) {
  EXPECT_EQ(UsagePercent(0, 1, 0, 3), 67);     // 100 - 33
  EXPECT_EQ(UsagePercent(10, 0, 0, 3), 433);   // idle went back: -333
  EXPECT_EQ(UsagePercent(0, 0, 5, 5), 0);
  EXPECT_EQ(UsagePercent(0, ~0ull, 0, ~0ull), 0);  // -1 * 100 / -1
}

TEST(SysLoadTest, MissingObjectKeepsCountUnknownAndRetries) {
  FakePerfData data;
  CpuSampler sampler(data.AsQuery());
  PerfBlockBuilder none;
  none.objects = {{230, {6}, {1, 2}}};
  data.block = none.Build();
  std::int32_t count = 0;
  EXPECT_EQ(sampler.InstanceCount(count), SampleStatus::kNoProcessorObject);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(SampleErrorText(SampleStatus::kNoProcessorObject),
            "Unable to locate the \"Processor\" performance object");
  data.block = ThreeInstances(0, 0, 0, 0).Build();
  EXPECT_EQ(sampler.InstanceCount(count), SampleStatus::kOk);
  EXPECT_EQ(count, 3);
}

TEST(SysLoadTest, MissingCounterFixesTheCountButNotTheSamples) {
  FakePerfData data;
  CpuSampler sampler(data.AsQuery());
  PerfBlockBuilder p;
  p.objects = {{238, {2, 4}, {1, 2}}};
  data.block = p.Build();
  EXPECT_EQ(sampler.TakeSample(), SampleStatus::kNoCpuCounter);
  EXPECT_EQ(SampleErrorText(SampleStatus::kNoCpuCounter),
            "Unable to locate the \"% of CPU usage\" performance counter");
  std::int32_t count = 0;
  EXPECT_EQ(sampler.InstanceCount(count), SampleStatus::kOk);
  EXPECT_EQ(count, 2);
}

TEST(SysLoadTest, EmptyBlockAsWineServesIt) {
  FakePerfData data;
  CpuSampler sampler(data.AsQuery());
  data.block = PerfBlockBuilder().Build();
  EXPECT_EQ(sampler.TakeSample(), SampleStatus::kNoProcessorObject);
  data.code = 2;  // a failing query is a failed sample, reported like a missing object
  CpuSampler fresh(data.AsQuery());
  EXPECT_EQ(fresh.TakeSample(), SampleStatus::kQueryFailed);
  EXPECT_EQ(SampleErrorText(SampleStatus::kQueryFailed), SampleErrorText(SampleStatus::kNoProcessorObject));
  std::int32_t count = 0;
  EXPECT_EQ(fresh.InstanceCount(count), SampleStatus::kQueryFailed);
  EXPECT_EQ(count, -1);
}

TEST(SysLoadTest, AFailedQueryKeepsTheSamplesInsteadOfRereadingTheBuffer) {
  FakePerfData data;
  CpuSampler sampler(data.AsQuery());
  data.block = ThreeInstances(0, 0, 0, 0).Build();
  ASSERT_EQ(sampler.TakeSample(), SampleStatus::kOk);
  data.block = ThreeInstances(0, 0, kSecond / 4, 1).Build();
  ASSERT_EQ(sampler.TakeSample(), SampleStatus::kOk);
  std::int32_t usage = 0;
  sampler.CpuUsage(2, usage);
  ASSERT_EQ(usage, 75);
  // Any answer but success and "more data": the buffer still holds the last
  // block, which must not count as a new sample (it would read 0%).
  for (const std::int32_t code : {1, 5, 6, 21, 1450}) {
    data.code = code;
    EXPECT_EQ(sampler.TakeSample(), SampleStatus::kQueryFailed) << code;
    sampler.CpuUsage(2, usage);
    EXPECT_EQ(usage, 75) << code;
  }
}

TEST(SysLoadTest, BufferGrowsFrom8192In4096StepsAndKeepsItsSize) {
  FakePerfData data;
  CpuSampler sampler(data.AsQuery());
  PerfBlockBuilder big;
  big.objects = {{238, {6}, std::vector<std::uint64_t>(300, 1)}};  // 300 * 56 bytes and headers
  data.block = big.Build();
  ASSERT_GT(data.block.size(), 16384u);
  ASSERT_LE(data.block.size(), 20480u);
  EXPECT_EQ(sampler.TakeSample(), SampleStatus::kOk);
  EXPECT_EQ(data.sizes_asked, (std::vector<std::uint32_t>{8192, 12288, 16384, 20480}));
  data.sizes_asked.clear();
  sampler.TakeSample();
  EXPECT_EQ(data.sizes_asked, (std::vector<std::uint32_t>{20480}));
}

TEST(SysLoadTest, BufferStopsGrowingAt16MiB) {
  std::vector<std::uint32_t> sizes;
  CpuSampler sampler([&](std::uint8_t* buffer, std::uint32_t size) {
    sizes.push_back(size);
    buffer[size - 1] = 1;  // the whole buffer is there to be written
    return platform::kErrorMoreData;  // never enough
  });
  EXPECT_EQ(sampler.TakeSample(), SampleStatus::kQueryFailed);
  ASSERT_EQ(sizes.size(), (kPerfBufferLimit - kPerfBufferStart) / kPerfBufferStep + 1);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    ASSERT_EQ(sizes[i], kPerfBufferStart + i * kPerfBufferStep) << i;
  }
  EXPECT_EQ(sizes.back(), 16u * 1024 * 1024);
  EXPECT_EQ(sampler.BufferSize(), 16u * 1024 * 1024);
  // At the bound a refused query fails at once.
  sizes.clear();
  EXPECT_EQ(sampler.TakeSample(), SampleStatus::kQueryFailed);
  EXPECT_EQ(sizes, (std::vector<std::uint32_t>{16u * 1024 * 1024}));
}

TEST(SysLoadTest, DataThatFillsTheWholeBoundIsRead) {
  FakePerfData data;
  CpuSampler sampler(data.AsQuery());
  PerfBlockBuilder big;
  big.objects = {{238, {6}, std::vector<std::uint64_t>(3, 1)}};
  data.block = big.Build();
  data.block.resize(kPerfBufferLimit, 0);  // padding after the objects, as the system may leave
  EXPECT_EQ(sampler.TakeSample(), SampleStatus::kOk);
  EXPECT_EQ(sampler.BufferSize(), kPerfBufferLimit);
}

TEST(SysLoadTest, UnsignedDecimalAndMemoryText) {
  EXPECT_EQ(UnsignedDecimal(0), "0");
  EXPECT_EQ(UnsignedDecimal(2147483648ull / 1024), "2097152");
  EXPECT_EQ(UnsignedDecimal(~0ull), "18446744073709551615");
  platform::MemoryStatus m{42, 2147483648ull, 1023, 4096ull * 1024 * 1024, 0};
  EXPECT_EQ(MemoryText(m),
            "RAM in use - 42%; Total RAM - 2097152 Kbytes; Free RAM - 0 Kbytes; "
            "Total swap - 4194304 Kbytes; Free swap - 0 Kbytes;");
}

TEST(LoadLineTest, FallsBackToCpuTimesAndReportsTheErrorOnce) {
  test::RecordingLog log;
  std::uint64_t idle = 0;
  std::uint64_t total = 0;
  LoadSources s;
  s.perf_data = [](std::uint8_t*, std::uint32_t) { return 0; };  // an empty block
  s.cpu_times = [&] { return platform::CpuTimes{idle, total}; };
  s.memory = [] { return platform::MemoryStatus{5, 1024, 2048, 0, 0}; };
  SystemLoadLine line(log, s);
  line.Prime();
  EXPECT_TRUE(log.Texts().empty());
  idle = 30;
  total = 100;
  EXPECT_EQ(line.Text(), "70%; RAM in use - 5%; Total RAM - 1 Kbytes; Free RAM - 2 Kbytes; "
                         "Total swap - 0 Kbytes; Free swap - 0 Kbytes;");
  idle = 30;
  total = 200;
  EXPECT_EQ(line.Text()->substr(0, 5), "100%;");
  EXPECT_EQ(log.Texts(), (std::vector<std::string>{"Unable to locate the \"Processor\" performance object"}));
}

TEST(LoadLineTest, PerfDataWinsWhenPresentAndNothingWithoutAnyFigure) {
  test::RecordingLog log;
  FakePerfData data;
  data.block = ThreeInstances(0, 0, 0, 0).Build();
  LoadSources s;
  s.perf_data = data.AsQuery();
  s.cpu_times = [] { return std::nullopt; };
  s.memory = [] { return platform::MemoryStatus{}; };
  SystemLoadLine line(log, s);
  line.Prime();
  data.block = ThreeInstances(0, 0, kSecond / 2, 1).Build();
  EXPECT_EQ(line.Text()->substr(0, 4), "50%;");
  data.code = 5;
  data.block.clear();
  SystemLoadLine broken(log, s);
  broken.Prime();
  EXPECT_EQ(broken.Text(), std::nullopt);
  EXPECT_TRUE(log.Texts().size() == 1u);
}

}  // namespace
}  // namespace qov::supervision
