// The log's file operations on the real file system: appending, and the
// replacing move of a rotation.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace qov::platform {
namespace {

using test::ReadAll;

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(FileTest, AppendsToAnExistingFileAndTellsItsSize) {
  test::TempDir dir;
  const std::string path = dir.File("log.txt");
  WriteFile(path, "old");
  auto file = AppendFile::Open(path);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Write("new"));
  EXPECT_TRUE(file->Flush());
  EXPECT_EQ(file->Size(), 6);
  file.reset();
  EXPECT_EQ(ReadAll(path), "oldnew");
  EXPECT_EQ(AppendFile::Open(dir.File("missing/log.txt")), nullptr);
}

TEST(FileTest, MoveReplacesAnOlderTarget) {
  test::TempDir dir;
  const std::string from = dir.File("log.txt");
  const std::string to = dir.File("log.txt.1");
  WriteFile(from, "current");
  WriteFile(to, "older");
  EXPECT_TRUE(MoveFileReplacing(from, to));
  EXPECT_FALSE(std::filesystem::exists(from));
  EXPECT_EQ(ReadAll(to), "current");
  // Without a target the move works too.
  WriteFile(from, "next");
  std::filesystem::remove(to);
  EXPECT_TRUE(MoveFileReplacing(from, to));
  EXPECT_EQ(ReadAll(to), "next");
}

TEST(FileTest, AFailedMoveLeavesTheTargetAlone) {
  test::TempDir dir;
  const std::string to = dir.File("log.txt.1");
  WriteFile(to, "older");
  EXPECT_FALSE(MoveFileReplacing(dir.File("missing.txt"), to));
  EXPECT_EQ(ReadAll(to), "older");
}

}  // namespace
}  // namespace qov::platform
