// Log file faults against the log writer and the system's files, natively
// and under Wine. The writer is opened again on every supervisor pass, so
// "the fault clears" means: the next Open after it takes the file up again.
//
//   fault                                  expected outcome
//   -------------------------------------  ------------------------------------------------------------
//   folder missing                         the log stays closed, lines are dropped, nothing is created
//   folder created later                   the next open logs; the first line is whole
//   the path is a folder                   closed, lines dropped, the folder untouched; once it is gone,
//                                          the next open logs
//   a read-only file                       closed while read-only, unless the system lets this user
//                                          write it anyway (root on Linux); logs once writable
//   a path over 260 characters             logs where the system takes such a path, is closed where it
//                                          does not; never a file at a cut-off name
//   a path over 4096 characters            closed, lines dropped
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "config/log_writer.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace qov::config {
namespace {

namespace fs = std::filesystem;

using test::ReadAll;

class LogFaultTest : public ::testing::Test {
 protected:
  // Opens and writes one line, as a supervisor pass and a worker would.
  void Pass(const std::string& message) {
    log_.Open();
    log_.Write(message);
  }

  test::TempDir dir_;
  test::FakeClock clock_;
  LogWriter log_{[] { return std::string("T"); }, clock_};
};

TEST_F(LogFaultTest, MissingFolderDropsLinesUntilTheFolderIsCreated) {
  const std::string folder = dir_.File("later");
  const std::string path = folder + "/qov.log";
  log_.Configure(path, 1024);
  for (int i = 0; i < 3; ++i) Pass("dropped " + std::to_string(i));
  EXPECT_FALSE(log_.IsOpen());
  EXPECT_FALSE(fs::exists(folder)) << "the writer creates no folder";
  fs::create_directory(folder);
  Pass("resumed");
  Pass("and goes on");
  EXPECT_EQ(ReadAll(path), "T - resumed\r\nT - and goes on\r\n");
}

TEST_F(LogFaultTest, APathThatIsAFolderDropsLinesAndLeavesTheFolderAlone) {
  const std::string path = dir_.File("qov.log");
  fs::create_directory(path);
  std::ofstream(path + "/inside.txt") << "keep";
  log_.Configure(path, 1024);
  Pass("dropped");
  EXPECT_FALSE(log_.IsOpen());
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(ReadAll(path + "/inside.txt"), "keep");
  fs::remove_all(path);
  Pass("resumed");
  EXPECT_EQ(ReadAll(path), "T - resumed\r\n");
}

TEST_F(LogFaultTest, AReadOnlyFileIsNotWrittenUnlessTheSystemAllowsItAndLogsOnceWritable) {
  const std::string path = dir_.File("qov.log");
  std::ofstream(path, std::ios::binary) << "old\r\n";
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  log_.Configure(path, 1024);
  Pass("while read-only");
  if (log_.IsOpen()) {
    // The system let this user open it anyway (root on Linux): then the line is there, whole.
    EXPECT_EQ(ReadAll(path), "old\r\nT - while read-only\r\n");
  } else {
    EXPECT_EQ(ReadAll(path), "old\r\n") << "a read-only file is left as it was";
  }
  log_.Close();
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  const std::string before = ReadAll(path);
  Pass("writable again");
  EXPECT_EQ(ReadAll(path), before + "T - writable again\r\n");
}

TEST_F(LogFaultTest, PathsOver260CharactersLogWhereTheSystemTakesThemAndNeverAtACutOffName) {
  // Folders of 50 characters each, so that the path passes 260 only with its last parts.
  std::string folder = dir_.File("");
  while (folder.size() < 300) folder += std::string(50, 'd') + "/";
  std::error_code ec;
  fs::create_directories(folder, ec);
  const std::string path = folder + "qov.log";
  ASSERT_GT(path.size(), 260u);
  log_.Configure(path, 1024);
  Pass("long path");
  if (!ec && log_.IsOpen()) {
    EXPECT_EQ(ReadAll(path), "T - long path\r\n");
  } else {
    EXPECT_FALSE(log_.IsOpen());
  }
  // Nothing appeared at the path cut to 259 or 260 characters.
  for (std::size_t cut : {std::size_t{259}, std::size_t{260}}) {
    const std::string shorter = path.substr(0, cut);
    EXPECT_TRUE(!fs::exists(shorter) || fs::is_directory(shorter)) << shorter;
  }
}

TEST_F(LogFaultTest, APathOver4096CharactersIsClosedAndDropsLines) {
  const std::string path = dir_.File(std::string(4200, 'p'));
  log_.Configure(path, 1024);
  Pass("dropped");
  EXPECT_FALSE(log_.IsOpen());
}

}  // namespace
}  // namespace qov::config
