// The process-wide log file: one line per message, flushed at once, rotated
// to "<path>.1" when it grows past the configured size. A rotation that
// cannot move the file keeps writing to it and is tried again a minute later.
//
// A caller never waits on the disk: Write() stamps and formats its line and
// puts it on a bounded queue, and the writer thread that Start() makes
// writes the queue in order whenever the disk takes it (an SD card or a
// network share may stall for seconds). A line that finds the queue full is
// dropped and counted, and once the disk takes lines again the log says
// "log lines dropped: N" where those lines would have been. Before Start()
// (tests, tools, a thread that could not be made) each caller writes the
// queue itself, as far as the disk lets it.
//
// Every wait (the writer's for a line, Drain's and Close's for the disk, Stop's
// for the writer's end) goes through the clock, so that a test's clock or a
// scheduler decides when it ends.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/log.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace qov::config {

class LogWriter final : public Log {
 public:
  using TimestampFn = std::function<std::string()>;
  // Moves the full log onto "<path>.1", replacing it; false when it did not.
  using MoveFn = std::function<bool(const std::string& from, const std::string& to)>;
  // Opens the log for appending; null when it cannot be opened.
  using OpenFn = std::function<std::unique_ptr<platform::AppendFile>(const std::string& path)>;
  static std::unique_ptr<platform::AppendFile> OpenLogFile(const std::string& path) {
    return platform::AppendFile::Open(path);
  }

  // A failed rotation waits this long before the next attempt.
  static constexpr platform::Tick kRotationRetryMs = 60'000;
  // Lines waiting for the disk; more are dropped.
  static constexpr std::size_t kQueueLimit = 1000;
  // How long Close() waits for the disk to take the lines queued before it.
  static constexpr std::uint32_t kCloseLimitMs = 2000;

  explicit LogWriter(TimestampFn timestamp, platform::Clock& clock = platform::SystemClock(),
                     MoveFn move = platform::MoveFileReplacing, OpenFn open = OpenLogFile);
  LogWriter();  // local date and time of the system
  ~LogWriter() override;  // stops the writer thread
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Starts the writer thread (the owner does, once per run); when no thread
  // can be made, callers go on writing their own lines.
  void Start();
  // Ends the writer thread after the line it is on; lines still queued are
  // written by the next caller.
  void Stop();

  // Path and rotation threshold (in 512-byte units) from the configuration.
  // Waits for a line being written.
  void Configure(std::string path, std::int32_t max_size);
  // Opens the file for appending (creating it) unless it is open already;
  // an open log returns at once, whatever the disk does.
  void Open();
  // Waits up to kCloseLimitMs for the lines queued before to reach the
  // file, then closes it: lines the disk did not take by then are dropped
  // and counted, and nothing written after Close() reaches the file. A line
  // still being written then is finished, and the file closed after it; an
  // Open still waiting on the disk then leaves the log closed. False when
  // such a line still holds the writer: a stalled disk may keep it for hours.
  bool Close();
  bool IsOpen();
  // The event to signal when a failed write loses the file (the owner then
  // opens it again); null for none. The owner clears it before its event goes.
  void WakeOnLoss(platform::WakeEvent* wake) {
    std::lock_guard lock(mutex_);
    wake_on_loss_ = wake;
  }
  // Waits up to `limit_ms` until every line queued so far is written (or
  // has failed); true when it is. Any number of threads may wait at once.
  bool Drain(std::uint32_t limit_ms);
  // Queues the line with the time of the call; returns without waiting for
  // the disk. Dropped while not open.
  void Write(std::string_view message) override;
  // Where lines that did not reach the file (a failed write, a full queue,
  // or a file that could not be opened) are counted; null counts nothing.
  // A plain atomic, so that the log needs nothing of the metrics that count
  // through it.
  using FailureCounter = std::atomic<std::uint64_t>;
  void CountFailuresIn(FailureCounter* failures);

  // True when a file of `size_bytes` is past the threshold: its 128-byte
  // block count exceeds max_size * 4.
  static bool NeedsRotation(std::int64_t size_bytes, std::int32_t max_size);

 private:
  // Writes the oldest queued line; false when none was queued. The writer
  // thread's step, and the caller's own before Start().
  bool WriteNext();
  void WriterLoop();
  // Timestamp now, " - ", the message, CR LF.
  std::string FormatLine(std::string_view message) const;
  // The file side of one line: a deleted file is replaced, a full one
  // rotated, then the line is appended and flushed. Under file_mutex_.
  bool WriteToFile(const std::string& line, const std::string& path, std::int32_t max_size);
  void OpenLocked(const std::string& path);
  void RotateLocked(const std::string& path);
  void CountFailureLocked(std::uint64_t lines = 1);

  TimestampFn timestamp_;
  platform::Clock& clock_;
  MoveFn move_;
  OpenFn open_file_;

  // The queue and what callers see of the log. Never held across a disk
  // operation, so a caller waits for no more than another's queueing.
  std::mutex mutex_;
  platform::WakeEvent queued_;                 // a line was queued, or Stop(): the writer's wake-up
  platform::WakeEvent writer_ended_;           // the writer thread's last act
  std::vector<platform::WakeEvent*> drains_;   // Drain() calls waiting for a line to be written
  std::deque<std::string> lines_;    // formatted, oldest first
  bool open_ = false;                // lines are taken
  platform::WakeEvent* wake_on_loss_ = nullptr;  // under mutex_
  bool writing_ = false;             // a line has left the queue and is not yet written
  std::uint64_t closes_ = 0;         // Close() calls: an Open that saw another one leaves the log closed
  std::uint64_t dropped_ = 0;        // dropped at the bound since the last report
  bool writer_running_ = false;
  bool stopping_ = false;
  std::string path_;
  std::int32_t max_size_ = 1024;
  FailureCounter* failures_ = nullptr;

  // The file: held across disk operations, by one writer at a time. Taken
  // before mutex_ when both are needed.
  std::mutex file_mutex_;
  std::unique_ptr<platform::AppendFile> file_;
  // When the last rotation failed; no new attempt before kRotationRetryMs later.
  bool rotation_failed_ = false;
  platform::Tick rotation_failed_at_ = 0;

  std::thread writer_;
};

}  // namespace qov::config
