// The Linux daemon's state file: values survive a new store over the same
// folder (the next run), rewrites replace whole files, and values that
// would break the line format are refused. The file is written only
// through a temporary no one can plant a link at, is readable by root
// alone, and is never read or written through a symbolic link.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

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

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

// The status record is a file of its own beside the state, readable by
// operators who are not root, replaced whole (a link planted at its name
// is replaced, never written through), and never touches the state.
TEST(FileStateStoreTest, TheStatusRecordIsAFileOfItsOwnReadableByAll) {
  test::TempDir dir;
  const std::string folder = dir.File("lib/qov_lumo");
  auto store = FileStateStore(folder);
  EXPECT_EQ(store->ReadStatus(), std::nullopt);
  ASSERT_TRUE(store->Set("last_reset_time", "1800000000"));
  std::ofstream(dir.File("victim")) << "victim";
  std::filesystem::create_symlink(dir.File("victim"), folder + "/status");
  const mode_t old_umask = ::umask(077);
  const auto failure = store->PublishStatus("state=running\npid=1\n");
  ::umask(old_umask);
  EXPECT_EQ(failure, std::nullopt);
  EXPECT_EQ(store->ReadStatus(), std::optional<std::string>("state=running\npid=1\n"));
  EXPECT_EQ(FileStateStore(folder)->ReadStatus(), std::optional<std::string>("state=running\npid=1\n"));
  struct stat st{};
  ASSERT_EQ(::lstat((folder + "/status").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(Entries(folder), (std::set<std::string>{"state", "status"}));
  std::ifstream victim(dir.File("victim"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "victim");
  EXPECT_EQ(store->Get("last_reset_time"), std::optional<std::string>("1800000000"));
  EXPECT_EQ(store->Get("status"), std::nullopt);
}

TEST(FileStateStoreTest, WritesLeaveOnlyTheStateFileReadableByRootAloneWhateverTheUmask) {
  test::TempDir dir;
  const mode_t old_umask = ::umask(0);
  auto store = FileStateStore(dir.File(""));
  const bool stored = store->Set("last_reset_time", "1800000000") && store->Set("last_reset_reported", "0");
  ::umask(old_umask);
  EXPECT_TRUE(stored);
  EXPECT_EQ(Entries(dir.File("")), std::set<std::string>{"state"}) << "no temporary is left behind";
  struct stat st{};
  ASSERT_EQ(::lstat(dir.File("state").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// Links planted where the old store wrote its temporary ("state.tmp") and at
// the state file itself: neither is followed, the files they name stay as
// they were, and a linked state file reads as no state at all.
TEST(FileStateStoreTest, PlantedLinksAreNeverFollowed) {
  test::TempDir dir;
  const std::string victim = dir.File("victim");
  std::ofstream(victim) << "reset_comp_times=1\n";
  std::filesystem::create_directories(dir.File("lib"));
  std::filesystem::create_symlink(victim, dir.File("lib/state.tmp"));
  std::filesystem::create_symlink(victim, dir.File("lib/state"));
  auto store = FileStateStore(dir.File("lib"));
  EXPECT_EQ(store->Get("reset_comp_times"), std::nullopt) << "read through the link";
  EXPECT_TRUE(store->Set("last_reset_reason", "r"));
  EXPECT_EQ(test::ReadAll(victim), "reset_comp_times=1\n");
  EXPECT_FALSE(std::filesystem::is_symlink(dir.File("lib/state"))) << "the link is replaced, not written through";
  EXPECT_EQ(FileStateStore(dir.File("lib"))->Get("last_reset_reason"), std::optional<std::string>("r"));
}

TEST(FileStateStoreTest, AFailedWriteSaysWhyAndLeavesNoTemporary) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.File("state/occupied"));  // nothing can be renamed over it
  auto store = FileStateStore(dir.File(""));
  std::string why;
  EXPECT_FALSE(store->Set("last_reset_time", "1800000000", &why));
  EXPECT_NE(why.find("cannot rename"), std::string::npos) << why;
  EXPECT_EQ(Entries(dir.File("")), std::set<std::string>{"state"});
}

}  // namespace
}  // namespace qov::platform
