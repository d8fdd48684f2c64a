// Log file faults that need Linux itself: a full disk (a 64 KiB tmpfs this
// test mounts, as root), a read-only file system, and a log file renamed or
// deleted while the writer holds it open (Windows refuses both: see
// fault_log_win32_test.cpp).
//
//   fault                                  expected outcome
//   -------------------------------------  ------------------------------------------------------------
//   disk full                              lines are dropped, the writer stays usable; once space is
//                                          freed the next line is written; every line on disk is whole
//                                          (known fault: the line the disk filled in is left cut, and the
//                                          next line runs on from it)
//   read-only file system                  closed, lines dropped; once writable, the next open logs
//   renamed while open                     no line is lost: they go on into the renamed file until the
//                                          next rotation starts a new file at the path
//   deleted while open                     the next line is at the path again (known fault: it goes
//                                          into the deleted file until that passes the rotation size)
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/log_writer.h"
#include "support/temp_dir.h"

namespace qov::config {
namespace {

namespace fs = std::filesystem;

using test::ReadAll;

using test::CrLfLines;

// A small tmpfs on a fresh folder, unmounted (lazily) at the end.
class SmallTmpfs {
 public:
  explicit SmallTmpfs(const std::string& options) : point_(dir_.File("mnt")) {
    fs::create_directory(point_);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", point_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(point_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  std::string File(const std::string& name) const { return point_ + "/" + name; }
  bool Remount(const std::string& options) {
    return ::mount("tmpfs", point_.c_str(), "tmpfs", MS_REMOUNT, options.c_str()) == 0;
  }

 private:
  test::TempDir dir_;
  std::string point_;
  bool mounted_ = false;
};

#define SKIP_UNLESS_MOUNTED(fs_)                                                                       \
  if (!(fs_).mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs (mount -t tmpfs); skipped as " \
                                     << (::geteuid() == 0 ? "the mount failed" : "not root")

// Fills the file system with one file until no byte more fits.
void Fill(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  const std::string block(1024, 'f');
  while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {
  }
  out.clear();
  for (int i = 0; i < 4096 && out.write("f", 1) && out.flush(); ++i) {
  }
}

class LogFaultPosixTest : public ::testing::Test {
 protected:
  // With the writer thread started, waits until the line is on disk.
  void Pass(const std::string& message) {
    log_.Open();
    log_.Write(message);
    ASSERT_TRUE(log_.Drain(60'000));
  }
  // The system's clock: Drain's bound only ends a failing run, while the
  // writer thread works at its own pace.
  LogWriter log_{[] { return std::string("12/8/2026 4:50:12 PM"); }};
};

// Writes "before", fills the disk, writes lines of every length (some
// cross the last free page), frees the space and writes two more lines.
std::string DiskFullRun(LogWriter& log, const SmallTmpfs& disk, const std::function<void(const std::string&)>& pass) {
  const std::string path = disk.File("qov.log");
  log.Configure(path, 1024);
  pass("before the disk filled");
  Fill(disk.File("filler"));
  for (int i = 0; i < 200; ++i) pass("while full " + std::to_string(i) + " " + std::string(i % 97, 'x'));
  EXPECT_TRUE(log.IsOpen()) << "the writer keeps its file";
  fs::remove(disk.File("filler"));
  pass("after space was freed");
  pass("and the next");
  return ReadAll(path);
}

// Every line on disk whole and none run together.
void ExpectEveryLineWhole(const std::string& text) {
  for (const auto& l : CrLfLines(text)) {
    EXPECT_EQ(l.rfind("12/8/2026 4:50:12 PM - ", 0), 0u) << "a broken line: '" << l << "'";
    EXPECT_EQ(l.find("12/8/2026", 1), std::string::npos) << "two lines run together: '" << l << "'";
  }
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(LogFaultPosixTest, DiskFullDropsLinesAndLoggingResumesOnceSpaceIsFreed) {
  SmallTmpfs disk("size=64k");
  SKIP_UNLESS_MOUNTED(disk);
  const std::string text = DiskFullRun(log_, disk, [this](const std::string& m) { Pass(m); });
  EXPECT_EQ(text.rfind("12/8/2026 4:50:12 PM - before the disk filled\r\n", 0), 0u);
  const std::string tail = "after space was freed\r\n12/8/2026 4:50:12 PM - and the next\r\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  std::size_t kept = 0;
  for (std::size_t at = text.find("while full"); at != std::string::npos; at = text.find("while full", at + 1)) ++kept;
  EXPECT_LT(kept, 200u) << "lines were dropped while the disk was full";
}

// A line that does not fit where the disk fills up is taken back whole, so
// the first line after space is freed does not run on from a fragment.
TEST_F(LogFaultPosixTest, DiskFullLeavesEveryLineOnDiskWhole) {
  SmallTmpfs disk("size=64k");
  SKIP_UNLESS_MOUNTED(disk);
  ExpectEveryLineWhole(DiskFullRun(log_, disk, [this](const std::string& m) { Pass(m); }));
}

// The same through the writer thread, and the failed lines are counted.
TEST_F(LogFaultPosixTest, DiskFullThroughTheWriterThreadLeavesEveryLineWholeAndCountsTheLost) {
  SmallTmpfs disk("size=64k");
  SKIP_UNLESS_MOUNTED(disk);
  LogWriter::FailureCounter failures{0};
  log_.CountFailuresIn(&failures);
  log_.Start();
  const std::string text = DiskFullRun(log_, disk, [this](const std::string& m) { Pass(m); });
  ExpectEveryLineWhole(text);
  EXPECT_NE(text.find("after space was freed"), std::string::npos);
  EXPECT_GT(failures.load(), 0u);
  log_.Stop();
  log_.CountFailuresIn(nullptr);
}

TEST_F(LogFaultPosixTest, AReadOnlyFileSystemDropsLinesAndTheNextOpenLogsOnceWritable) {
  SmallTmpfs disk("size=64k");
  SKIP_UNLESS_MOUNTED(disk);
  ASSERT_TRUE(disk.Remount("ro,size=64k"));
  const std::string path = disk.File("qov.log");
  log_.Configure(path, 1024);
  Pass("dropped");
  EXPECT_FALSE(log_.IsOpen());
  ASSERT_TRUE(disk.Remount("rw,size=64k"));
  Pass("resumed");
  EXPECT_EQ(ReadAll(path), "12/8/2026 4:50:12 PM - resumed\r\n");
}

class LogFaultRemovedWhileOpenTest : public LogFaultPosixTest {
 protected:
  test::TempDir dir_;
  std::string path_ = dir_.File("qov.log");
};

TEST_F(LogFaultRemovedWhileOpenTest, RenamedWhileOpenLosesNoLineAndTheNextRotationStartsAtThePath) {
  log_.Configure(path_, 1);  // rotation past 640 bytes
  Pass("before");
  fs::rename(path_, path_ + ".moved");
  std::vector<std::string> written;
  for (int i = 0; i < 30; ++i) {
    written.push_back("after " + std::to_string(i));
    Pass(written.back());
  }
  // Every line is in one of the files, in order.
  std::vector<std::string> found;
  for (const std::string& f : {path_ + ".moved", path_ + ".1", path_}) {
    for (const auto& l : CrLfLines(ReadAll(f))) found.push_back(l.substr(l.find(" - ") + 3));
  }
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.front(), "before");
  EXPECT_EQ(std::vector<std::string>(found.begin() + 1, found.end()), written);
  EXPECT_TRUE(fs::exists(path_)) << "logging is back at its path";
}

// A log deleted while open is noticed at the next line, which goes to a
// new file at the path: nothing more is written into the deleted file, with
// or without rotations after it.
TEST_F(LogFaultRemovedWhileOpenTest, DeletedWhileOpenEveryNextLineIsAtThePath) {
  struct Case {
    bool writer_thread;
    std::int32_t max_size;  // 1: rotation past 640 bytes
  };
  for (const Case c : {Case{false, 1024}, Case{false, 1}, Case{true, 1024}, Case{true, 1}}) {
    SCOPED_TRACE(std::string(c.writer_thread ? "writer thread, " : "caller writes, ") + std::to_string(c.max_size));
    if (c.writer_thread) log_.Start();
    for (const std::string& f : {path_, path_ + ".1"}) fs::remove(f);
    log_.Configure(path_, c.max_size);
    Pass("before");
    fs::remove(path_);
    std::vector<std::string> written;
    for (int i = 0; i < 30; ++i) {
      written.push_back("after " + std::to_string(i));
      Pass(written.back());
    }
    std::vector<std::string> found;
    for (const std::string& f : {path_ + ".1", path_}) {
      for (const auto& l : CrLfLines(ReadAll(f))) found.push_back(l.substr(l.find(" - ") + 3));
    }
    EXPECT_EQ(found, written);
    log_.Close();
  }
}

}  // namespace
}  // namespace qov::config
