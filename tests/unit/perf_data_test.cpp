// The walk through the system's performance data: it finds the processor
// object's counter in each instance and never reads outside the block.
#include "platform/perf_data.h"

#include <gtest/gtest.h>

#include "support/perf_block_builder.h"

namespace qov::platform {
namespace {

using test::PerfBlockBuilder;

constexpr std::uint64_t kSecond = 10'000'000;  // in 100 ns

// An object before the processor's, then the processor's with three instances.
PerfBlockBuilder ThreeInstances(std::uint64_t a, std::uint64_t b, std::uint64_t total) {
  PerfBlockBuilder p;
  p.objects = {{230, {6}, {1}}, {238, {2, 6}, {a, b, total}}};
  return p;
}

TEST(PerfDataTest, WalksNeverLeaveTheData) {
  const std::vector<std::uint8_t> good = ThreeInstances(1, 2, 3).Build();
  PerfReading r;
  std::int32_t found = -1;
  ASSERT_EQ(WalkProcessorData(good, -1, found, r), SampleStatus::kOk);
  EXPECT_EQ(r.values, (std::vector<std::uint64_t>{1, 2, 3}));
  // Every truncation fails cleanly (ASan would catch a read past the end).
  for (std::size_t n = 0; n < good.size(); ++n) {
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_NE(WalkProcessorData(cut, -1, found, r), SampleStatus::kOk) << n;
  }
  const std::uint32_t obj = PerfBlockBuilder::kBlockHeader + PerfBlockBuilder::kObjectHeader +
                            PerfBlockBuilder::kCounterDef;  // the processor object follows a 1-counter object
  auto bad = good;
  PerfBlockBuilder::Put32(bad, 24, 0xFFFFFFF0);  // first object far outside
  EXPECT_EQ(WalkProcessorData(bad, -1, found, r), SampleStatus::kNoProcessorObject);
  bad = good;
  PerfBlockBuilder::Put32(bad, 28, 0xFFFFFFFF);  // endless object count with zero steps
  PerfBlockBuilder::Put32(bad, PerfBlockBuilder::kBlockHeader, 0);
  EXPECT_EQ(WalkProcessorData(bad, -1, found, r), SampleStatus::kNoProcessorObject);
  bad = good;
  const std::size_t proc = obj + PerfBlockBuilder::kInstanceDef + PerfBlockBuilder::kCounterBlock;
  PerfBlockBuilder::Put32(bad, proc + 40, 0x7FFFFFFF);  // absurd instance count
  EXPECT_EQ(WalkProcessorData(bad, -1, found, r), SampleStatus::kNoProcessorObject);
  bad = good;
  PerfBlockBuilder::Put32(bad, proc + 64 + 40 + 36, 0xFFFFFF00);  // counter offset outside
  EXPECT_EQ(WalkProcessorData(bad, -1, found, r), SampleStatus::kNoProcessorObject);
  bad = good;
  PerfBlockBuilder::Put32(bad, proc + 4, 0xFFFFFF00);  // instances far outside
  EXPECT_EQ(WalkProcessorData(bad, -1, found, r), SampleStatus::kNoProcessorObject);
}

TEST(PerfDataTest, SystemTimeConversion) {
  const std::uint16_t epoch[8] = {1970, 1, 4, 1, 0, 0, 0, 0};
  EXPECT_EQ(SystemTimeTo100ns(epoch), 116444736000000000ull);
  const std::uint16_t leap[8] = {2024, 3, 5, 1, 12, 30, 15, 250};
  const std::uint16_t before[8] = {2024, 2, 4, 29, 12, 30, 15, 250};
  EXPECT_EQ(SystemTimeTo100ns(leap) - SystemTimeTo100ns(before), 24 * 3600 * kSecond);
}

}  // namespace
}  // namespace qov::platform
