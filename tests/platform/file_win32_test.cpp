// A rotation's move while another program holds the log open without
// delete sharing: it fails and both generations stay. A symbolic link
// planted where the service writes is never written through.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

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

// The service runs as LocalSystem: a link at the log's name, at the metrics
// file's former temporary name or at a new file's name must not lead its
// writes to a file the planter could not write. Creating a symbolic link
// needs a privilege (or developer mode), and Wine makes none; where none can
// be made, there is nothing to plant and the test is skipped.
TEST(FileWin32Test, NothingIsWrittenThroughAPlantedSymbolicLink) {
  test::TempDir dir;
  const std::string victim = dir.File("victim.txt");
  std::ofstream(victim, std::ios::binary) << "victim";
  const std::string log = dir.File("qov.log");
  const std::string metrics = dir.File("qov.prom");
  const std::string unit = dir.File("new.txt");
  for (const std::string& at : {log, metrics + ".tmp", unit}) {
    // Wine 8 answers TRUE and makes nothing: the link must be seen there.
    const BOOLEAN made = ::CreateSymbolicLinkA(at.c_str(), victim.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    const DWORD attributes = ::GetFileAttributesA(at.c_str());
    if (!made || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      GTEST_SKIP() << "no symbolic link can be made here";
    }
  }
  EXPECT_EQ(AppendFile::Open(log), nullptr);
  EXPECT_EQ(ReplaceFileContents(metrics, "qov_up 1\n"), std::nullopt);
  EXPECT_EQ(ReadAll(metrics), "qov_up 1\n");
  EXPECT_NE(CreateNewFile(unit, "text", kPublicFileMode), std::nullopt);
  EXPECT_EQ(ReadAll(victim), "victim");
}

}  // namespace
}  // namespace qov::platform
