// The Linux daemon's state file: values survive a new store over the same
// folder (the next run), rewrites replace whole files, and values that
// would break the line format are refused.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/state_store.h"
#include "support/temp_dir.h"

namespace qov::platform {
namespace {

TEST(FileStateStoreTest, ValuesSurviveTheNextRunAndBadOnesAreRefused) {
  test::TempDir dir;
  const std::string folder = dir.File("lib/qov_lumo");  // made at the first write
  {
    auto store = FileStateStore(folder);
    EXPECT_EQ(store->Get("reset_comp_times"), std::nullopt);
    EXPECT_TRUE(store->Set("reset_comp_times", "1800000000,1800003600"));
    EXPECT_TRUE(store->Set("last_reset_reason", "11 failed cycles in a row, 3 modem resets"));
    EXPECT_TRUE(store->Set("reset_comp_times", "1800003600"));
    EXPECT_FALSE(store->Set("bad=name", "x"));
    EXPECT_FALSE(store->Set("name", "two\nlines"));
  }
  auto next = FileStateStore(folder);
  EXPECT_EQ(next->Get("reset_comp_times"), std::optional<std::string>("1800003600"));
  EXPECT_EQ(next->Get("last_reset_reason"), std::optional<std::string>("11 failed cycles in a row, 3 modem resets"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/state.tmp"));
}

}  // namespace
}  // namespace qov::platform
