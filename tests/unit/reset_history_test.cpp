// The record of computer resets that outlives each run: the reboot-loop
// guard's count over the last day, across restarts and wall-clock changes,
// and the last reset's report at the next start.
#include "supervision/reset_history.h"

#include <gtest/gtest.h>

#include "platform/memory_registry.h"
#include "support/journaled_registry.h"

namespace qov::supervision {
namespace {

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 24 * kHour;
constexpr std::int64_t kStart = 1'800'000'000;

class ResetHistoryTest : public ::testing::Test {
 protected:
  // A fresh object over the same store, as the next run after a reset makes.
  ResetHistory Restarted() { return ResetHistory(*store, [this] { return now; }); }

  platform::MemoryRegistry registry;
  std::unique_ptr<platform::StateStore> store = platform::RegistryStateStore(registry);
  std::int64_t now = kStart;
};

TEST_F(ResetHistoryTest, CountsTheLastDayAcrossRestartsAndLetsOldResetsGo) {
  EXPECT_EQ(Restarted().Record("11 failed cycles in a row, 3 modem resets"), std::nullopt);
  now += kHour;
  EXPECT_EQ(Restarted().CountLastDay(), 1);
  EXPECT_EQ(Restarted().Record("again"), std::nullopt);
  now += kDay - kHour - 1;  // one second before the first leaves the window
  EXPECT_EQ(Restarted().CountLastDay(), 2);
  now += 1;
  EXPECT_EQ(Restarted().CountLastDay(), 1);
  now += kHour;
  EXPECT_EQ(Restarted().CountLastDay(), 0);
}

// A clock set back by a day makes the stored resets lie in the future: they
// still count (setting the clock back never unlocks the guard) and leave the
// window a day after they were first seen so.
TEST_F(ResetHistoryTest, AClockSetBackNeitherUnlocksNorLocksForGood) {
  EXPECT_EQ(Restarted().Record("r"), std::nullopt);
  now -= kDay;
  EXPECT_EQ(Restarted().CountLastDay(), 1);
  now += kDay - 1;
  EXPECT_EQ(Restarted().CountLastDay(), 1);
  now += 1;
  EXPECT_EQ(Restarted().CountLastDay(), 0);
}

TEST_F(ResetHistoryTest, TheLastResetIsReportedOnceAtTheNextStart) {
  EXPECT_EQ(Restarted().TakeUnreported(), std::nullopt);
  EXPECT_EQ(Restarted().Record("21 failed cycles in a row, 2 modem resets"), std::nullopt);
  now += 300;
  const auto report = Restarted().TakeUnreported();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->utc_seconds, kStart);
  EXPECT_EQ(report->reason, "21 failed cycles in a row, 2 modem resets");
  EXPECT_EQ(Restarted().TakeUnreported(), std::nullopt) << "once";
  EXPECT_EQ(Restarted().CountLastDay(), 1) << "the guard's count is not touched by the report";
}

// The status record's view: what the last run stored, then each record and
// trim as it happens, counted over the day before the moment asked about.
TEST_F(ResetHistoryTest, TheSummaryFollowsTheStoreWithoutReadingIt) {
  EXPECT_EQ(Restarted().Summary(now).last_day, 0);
  EXPECT_FALSE(Restarted().Summary(now).last);
  EXPECT_EQ(Restarted().Record("first"), std::nullopt);
  now += kHour;
  ResetHistory history = Restarted();
  ResetSummary s = history.Summary(now);
  EXPECT_EQ(s.last_day, 1) << "loaded at the start";
  EXPECT_EQ(s.last, (ResetRecord{kStart, "first"}));
  EXPECT_EQ(history.Record("second"), std::nullopt);
  s = history.Summary(now);
  EXPECT_EQ(s.last_day, 2);
  EXPECT_EQ(s.last, (ResetRecord{kStart + kHour, "second"}));
  EXPECT_EQ(history.Summary(kStart + kDay).last_day, 1) << "the first has left the window";
  EXPECT_EQ(history.Summary(kStart - kDay).last_day, 2) << "a clock set back counts them as now";
  store->Set("reset_comp_times", "");  // only the history's own writes are seen
  EXPECT_EQ(history.Summary(now).last_day, 2);
}

TEST_F(ResetHistoryTest, DamagedStateCountsOnlyWhatItCanRead) {
  store->Set("reset_comp_times", "x," + std::to_string(kStart) + ",,-,99999999999999999999999");
  store->Set("last_reset_reported", "0");
  EXPECT_EQ(Restarted().CountLastDay(), 1);
  EXPECT_EQ(Restarted().TakeUnreported(), std::nullopt) << "no time stored: nothing to report";
}

// On Windows the state is the State key, whose writes the system keeps in
// memory for a while: each value is flushed to the disk as it is written,
// before the reset it records can come, and one that cannot be flushed is
// a failed record, named with its value.
TEST(RegistryStateStoreTest, EveryRecordedValueIsFlushedAndAFailedFlushIsAFailedRecord) {
  test::JournaledRegistry registry;
  auto store = platform::RegistryStateStore(registry);
  ResetHistory history(*store, [] { return kStart; });
  EXPECT_EQ(history.Record("r"), std::nullopt);
  EXPECT_EQ(registry.journal, (std::vector<std::string>{"write reset_comp_times", "flush", "write last_reset_time",
                                                        "flush", "write last_reset_reason", "flush",
                                                        "write last_reset_reported", "flush"}));
  registry.flushes_fail = true;
  EXPECT_EQ(history.Record("r"), std::optional<std::string>("reset_comp_times: cannot flush the State key"));
  std::string why;
  EXPECT_FALSE(store->Set("last_reset_reported", "1", &why));
  EXPECT_EQ(why, "cannot flush the State key");
}

}  // namespace
}  // namespace qov::supervision
