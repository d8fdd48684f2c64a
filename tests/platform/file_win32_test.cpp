// A rotation's move while another program holds the log open without
// delete sharing: it fails and both generations stay.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/file.h"
#include "platform/win32_handle.h"
#include "support/temp_dir.h"

namespace qov::platform {
namespace {

using test::ReadAll;

TEST(FileWin32Test, MoveFailsWhileAReaderHoldsTheFileWithoutDeleteSharing) {
  test::TempDir dir;
  const std::string from = dir.File("log.txt");
  const std::string to = dir.File("log.txt.1");
  std::ofstream(from, std::ios::binary) << "current";
  std::ofstream(to, std::ios::binary) << "older";
  {
    UniqueFileHandle reader(::CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);
    EXPECT_FALSE(MoveFileReplacing(from, to));
    EXPECT_EQ(ReadAll(from), "current");
    EXPECT_EQ(ReadAll(to), "older");
  }
  EXPECT_TRUE(MoveFileReplacing(from, to));
  EXPECT_EQ(ReadAll(to), "current");
}

}  // namespace
}  // namespace qov::platform
