#include "config/log_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace qov::config {
namespace {

using test::ReadAll;

void MakeFile(const std::string& path, std::size_t bytes) {
  std::ofstream out(path, std::ios::binary);
  out << std::string(bytes, 'x');
}

class LogWriterTest : public ::testing::Test {
 protected:
  LogWriter log_{[] { return std::string("12/8/2026 4:50:12 PM"); }};
  test::TempDir dir_;
  std::string path_ = dir_.File("qov_log.txt");
};

TEST_F(LogWriterTest, LineFormatAndAppendToExistingFile) {
  MakeFile(path_, 3);
  log_.Configure(path_, 1024);
  log_.Open();
  log_.Write("Service started");
  EXPECT_EQ(ReadAll(path_), "xxx12/8/2026 4:50:12 PM - Service started\r\n");
}

TEST_F(LogWriterTest, DropsMessagesUntilOpened) {
  log_.Configure(path_, 1024);
  log_.Write("lost");
  EXPECT_FALSE(std::filesystem::exists(path_));
  log_.Open();
  log_.Open();  // a second open does nothing
  log_.Write("kept");
  EXPECT_EQ(ReadAll(path_), "12/8/2026 4:50:12 PM - kept\r\n");
}

// A folder that is missing leaves the log closed and drops lines without
// harm; once the folder exists, the next open resumes logging.
TEST_F(LogWriterTest, OpenFailureLeavesLogClosedUntilTheFolderExists) {
  const std::string path = dir_.File("missing/dir/log.txt");
  log_.Configure(path, 1024);
  log_.Open();
  EXPECT_FALSE(log_.IsOpen());
  log_.Write("dropped");
  std::filesystem::create_directories(dir_.File("missing/dir"));
  EXPECT_FALSE(std::filesystem::exists(path));
  log_.Open();
  EXPECT_TRUE(log_.IsOpen());
  log_.Write("resumed");
  EXPECT_EQ(ReadAll(path), "12/8/2026 4:50:12 PM - resumed\r\n");
}

TEST(LogRotationRule, ThresholdIsFourBlocksPerUnit) {
  EXPECT_FALSE(LogWriter::NeedsRotation(524288, 1024));  // 4096 blocks
  EXPECT_FALSE(LogWriter::NeedsRotation(524415, 1024));  // still 4096 whole blocks
  EXPECT_TRUE(LogWriter::NeedsRotation(524416, 1024));   // 4097 blocks
  EXPECT_FALSE(LogWriter::NeedsRotation(0, 0));
  EXPECT_TRUE(LogWriter::NeedsRotation(1, 0));
  EXPECT_TRUE(LogWriter::NeedsRotation(1, -1));
  EXPECT_FALSE(LogWriter::NeedsRotation(512, 1));  // 4 blocks
  EXPECT_TRUE(LogWriter::NeedsRotation(640, 1));   // 5 blocks
}

TEST_F(LogWriterTest, RotatesAtTheDefaultThreshold) {
  MakeFile(path_, 524288);
  log_.Configure(path_, 1024);
  log_.Open();
  log_.Write("still here");
  EXPECT_FALSE(std::filesystem::exists(path_ + ".1"));
  log_.Close();

  MakeFile(path_, 524416);
  log_.Open();
  log_.Write("first of the new file");
  EXPECT_EQ(std::filesystem::file_size(path_ + ".1"), 524416u);
  EXPECT_EQ(ReadAll(path_), "12/8/2026 4:50:12 PM - first of the new file\r\n");
}

TEST_F(LogWriterTest, ZeroSizeKeepsOneLinePerFileAndReplacesOldGeneration) {
  log_.Configure(path_, 0);
  log_.Open();
  log_.Write("one");
  log_.Write("two");
  log_.Write("three");
  EXPECT_EQ(ReadAll(path_), "12/8/2026 4:50:12 PM - three\r\n");
  EXPECT_EQ(ReadAll(path_ + ".1"), "12/8/2026 4:50:12 PM - two\r\n");
}

// The same rules hold when the lines go through the writer thread.
TEST_F(LogWriterTest, TheWriterThreadAppendsAndRotatesAsTheCallerWould) {
  MakeFile(path_, 3);
  log_.Configure(path_, 0);
  log_.Start();
  log_.Open();
  for (const char* message : {"one", "two", "three"}) log_.Write(message);
  ASSERT_TRUE(log_.Drain(60'000));
  EXPECT_EQ(ReadAll(path_), "12/8/2026 4:50:12 PM - three\r\n");
  EXPECT_EQ(ReadAll(path_ + ".1"), "12/8/2026 4:50:12 PM - two\r\n");
  log_.Stop();
  log_.Write("after the thread");
  EXPECT_EQ(ReadAll(path_), "12/8/2026 4:50:12 PM - after the thread\r\n") << "written by the caller";
}

// The real move, refused while `blocked` is set (as when another program
// holds the log without delete sharing); counts every attempt.
struct BlockableMove {
  bool blocked = false;
  int attempts = 0;
  LogWriter::MoveFn AsMove() {
    return [this](const std::string& from, const std::string& to) {
      ++attempts;
      return !blocked && platform::MoveFileReplacing(from, to);
    };
  }
};

class FailedRotationTest : public ::testing::Test {
 protected:
  FailedRotationTest() {
    log_.Configure(path_, 0);  // every line after the first rotates
    log_.Open();
  }
  test::TempDir dir_;
  std::string path_ = dir_.File("qov_log.txt");
  test::FakeClock clock_;
  BlockableMove move_;
  LogWriter log_{[] { return std::string("T"); }, clock_, move_.AsMove()};
};

TEST_F(FailedRotationTest, KeepsTheOldGenerationAndEveryLineAndRetriesAfterAMinute) {
  log_.Write("one");
  log_.Write("two");
  ASSERT_EQ(ReadAll(path_ + ".1"), "T - one\r\n");
  ASSERT_EQ(move_.attempts, 1);

  move_.blocked = true;
  log_.Write("three");  // the move fails: ".1" stays, the line goes on the full file
  EXPECT_EQ(move_.attempts, 2);
  EXPECT_EQ(ReadAll(path_ + ".1"), "T - one\r\n");
  EXPECT_EQ(ReadAll(path_), "T - two\r\nT - three\r\n");
  EXPECT_TRUE(log_.IsOpen());

  // No new attempt for a minute, however many lines come.
  clock_.Advance(LogWriter::kRotationRetryMs - 1);
  log_.Write("four");
  log_.Write("five");
  EXPECT_EQ(move_.attempts, 2);
  EXPECT_EQ(ReadAll(path_), "T - two\r\nT - three\r\nT - four\r\nT - five\r\n");

  // A minute after the failure it is tried again; failing again waits another minute.
  clock_.Advance(1);
  log_.Write("six");
  EXPECT_EQ(move_.attempts, 3);
  clock_.Advance(LogWriter::kRotationRetryMs - 1);
  log_.Write("seven");
  EXPECT_EQ(move_.attempts, 3);
  EXPECT_EQ(ReadAll(path_ + ".1"), "T - one\r\n");

  // Once the file can move, the whole backlog becomes ".1" and rotation is back to every line.
  move_.blocked = false;
  clock_.Advance(1);
  log_.Write("eight");
  EXPECT_EQ(move_.attempts, 4);
  EXPECT_EQ(ReadAll(path_ + ".1"),
            "T - two\r\nT - three\r\nT - four\r\nT - five\r\nT - six\r\nT - seven\r\n");
  EXPECT_EQ(ReadAll(path_), "T - eight\r\n");
  log_.Write("nine");
  EXPECT_EQ(move_.attempts, 5);
  EXPECT_EQ(ReadAll(path_ + ".1"), "T - eight\r\n");
}

TEST_F(FailedRotationTest, ANewConfigurationTriesAtOnce) {
  log_.Write("one");
  move_.blocked = true;
  log_.Write("two");
  EXPECT_EQ(move_.attempts, 1);
  move_.blocked = false;
  log_.Close();
  log_.Configure(path_, 0);
  log_.Open();
  log_.Write("three");
  EXPECT_EQ(move_.attempts, 2);
  EXPECT_EQ(ReadAll(path_ + ".1"), "T - one\r\nT - two\r\n");
}

TEST_F(LogWriterTest, ConcurrentWritersLoseNothing) {
  log_.Configure(path_, 1024);
  log_.Open();
  constexpr int kThreads = 4;
  constexpr int kLines = 50;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) log_.Write("w" + std::to_string(t) + "-" + std::to_string(i));
    });
  }
  // The supervisor's periodic open runs beside the writers.
  for (int i = 0; i < 100; ++i) log_.Open();
  for (auto& w : writers) w.join();
  std::istringstream in(ReadAll(path_));
  int lines = 0;
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(line.ends_with("\r")) << line;
    ++lines;
  }
  EXPECT_EQ(lines, kThreads * kLines);
}

}  // namespace
}  // namespace qov::config
