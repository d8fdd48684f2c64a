// The log writer's queue on a disk that stalls: callers never wait for the
// disk, lines keep their order and their time, lines past the bound are
// dropped, counted and reported, and Close() waits (within its bound) for
// what was queued before it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "config/log_writer.h"
#include "support/fake_clock.h"
#include "support/stalling_disk.h"
#include "support/temp_dir.h"

namespace qov::config {
namespace {

using test::CrLfLines;

class LogQueueTest : public ::testing::Test {
 protected:
  LogQueueTest() {
    log_.CountFailuresIn(&failures_);
    log_.Configure("qov_log.txt", 1024);
    log_.Start();
    log_.Open();
  }
  ~LogQueueTest() override { disk_.Release(); }  // before the writer thread is joined

  // Runs `calls` on another thread; false when they did not return (a call
  // that waits on the stalled disk never does). The bound is far above any
  // call that does not wait, so it only ends a failing run.
  bool Return(const std::function<void()>& calls) {
    auto done = std::async(std::launch::async, calls);
    if (done.wait_for(std::chrono::seconds(60)) == std::future_status::ready) return true;
    disk_.Release();  // lets the stuck call end, so that the test can
    return false;
  }

  test::StallingDisk disk_;
  std::atomic<int> time_{0};  // the clock of the lines' timestamps, "t<time>"
  LogWriter::FailureCounter failures_{0};
  test::FakeClock clock_;
  LogWriter log_{[this] { return "t" + std::to_string(time_.load()); }, clock_, platform::MoveFileReplacing,
                 disk_.Opener()};
};

TEST_F(LogQueueTest, CallersDoNotWaitForAStalledDiskAndLinesComeOutInOrderWithTheTimeOfTheCall) {
  disk_.Hold();
  ASSERT_TRUE(Return([&] {
    time_ = 1;
    log_.Write("first");
    disk_.WaitForStalledWrite();
    for (int i = 2; i <= 4; ++i) {
      time_ = i;
      log_.Write("line " + std::to_string(i));
    }
    // The supervisor's pass goes on too.
    log_.Open();
    EXPECT_TRUE(log_.IsOpen());
  })) << "a caller waited for the stalled disk";
  time_ = 99;  // the disk comes back later
  disk_.Release();
  disk_.WaitForLines(4);
  EXPECT_EQ(disk_.Text(), "t1 - first\r\nt2 - line 2\r\nt3 - line 3\r\nt4 - line 4\r\n");
  EXPECT_EQ(failures_.load(), 0u);
}

TEST_F(LogQueueTest, LinesPastTheBoundAreDroppedCountedAndReportedWhereTheyWereOnceTheDiskIsBack) {
  disk_.Hold();
  log_.Write("first");
  disk_.WaitForStalledWrite();
  std::vector<std::string> expected{"t0 - first"};
  for (std::size_t i = 0; i < LogWriter::kQueueLimit; ++i) {
    log_.Write("queued " + std::to_string(i));
    expected.push_back("t0 - queued " + std::to_string(i));
  }
  EXPECT_EQ(failures_.load(), 0u) << "the queue holds kQueueLimit lines";
  for (int i = 0; i < 3; ++i) log_.Write("lost " + std::to_string(i));
  EXPECT_EQ(failures_.load(), 3u);
  EXPECT_TRUE(log_.IsOpen());

  time_ = 1;
  disk_.Release();
  expected.push_back("t1 - log lines dropped: 3");
  disk_.WaitForLines(expected.size());
  time_ = 2;
  log_.Write("after");
  expected.push_back("t2 - after");
  disk_.WaitForLines(expected.size());
  EXPECT_EQ(CrLfLines(disk_.Text()), expected);
  EXPECT_EQ(failures_.load(), 3u);
}

TEST_F(LogQueueTest, CloseWaitsForTheLinesQueuedBeforeItAndNothingAfterItIsWritten) {
  disk_.Hold();
  log_.Write("a");
  disk_.WaitForStalledWrite();
  log_.Write("b");
  log_.Write("Service stopped");
  // The disk comes back within Close's bound: at its wait's first step.
  clock_.OnSleep([&](platform::Tick) {
    disk_.Release();
    disk_.WaitForLines(3);
  });
  log_.Close();
  EXPECT_EQ(disk_.Text(), "t0 - a\r\nt0 - b\r\nt0 - Service stopped\r\n");
  EXPECT_FALSE(log_.IsOpen());
  disk_.WaitUntilClosed();
  log_.Write("after close");
  EXPECT_EQ(disk_.Text(), "t0 - a\r\nt0 - b\r\nt0 - Service stopped\r\n");
  EXPECT_EQ(failures_.load(), 1u) << "the line after Close";
}

// The stop must end even when the disk never comes back: Close gives up
// after its bound (on the test's clock), drops and
// counts what is left, and the file is closed once the line on the disk
// is done. The next Open logs again.
TEST_F(LogQueueTest, CloseGivesUpOnADiskThatStaysStalledAndTheFileIsClosedAfterItsLastLine) {
  disk_.Hold();
  log_.Write("on the disk");
  disk_.WaitForStalledWrite();
  log_.Write("given up");
  EXPECT_FALSE(log_.Close()) << "a line still holds the writer";
  EXPECT_FALSE(log_.IsOpen());
  EXPECT_EQ(failures_.load(), 1u);
  log_.Write("after close");
  EXPECT_EQ(failures_.load(), 2u);
  disk_.Release();
  disk_.WaitUntilClosed();
  EXPECT_EQ(disk_.Text(), "t0 - on the disk\r\n");

  log_.Open();
  log_.Write("reopened");
  disk_.WaitForLines(2);
  EXPECT_EQ(disk_.Text(), "t0 - on the disk\r\nt0 - reopened\r\n");
}

// The stop's Close does not wait for the disk either: an open that the
// supervisor began on a stalled disk holds the file, and the Close that
// overtakes it returns at once; the open then leaves the log closed, so
// nothing written after the Close reaches the file.
TEST_F(LogQueueTest, CloseDoesNotWaitForAnOpenOnAStalledDiskAndTheOpenItOvertookLeavesTheLogClosed) {
  log_.Close();
  disk_.WaitUntilClosed();
  disk_.Hold();
  std::thread opener([&] { log_.Open(); });
  disk_.WaitForStalledWrite();
  EXPECT_TRUE(Return([&] { log_.Close(); })) << "Close waited for the stalled open";
  disk_.Release();
  opener.join();
  EXPECT_FALSE(log_.IsOpen());
  disk_.WaitUntilClosed();
  log_.Write("after close");
  EXPECT_EQ(failures_.load(), 1u);

  log_.Open();
  log_.Write("reopened");
  disk_.WaitForLines(1);
  EXPECT_EQ(disk_.Text(), "t0 - reopened\r\n");
}

}  // namespace
}  // namespace qov::config
