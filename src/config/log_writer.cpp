#include "config/log_writer.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "config/sanitize_line.h"
#include "platform/local_time.h"

namespace qov::config {

LogWriter::LogWriter(TimestampFn timestamp, platform::Clock& clock, MoveFn move, OpenFn open)
    : timestamp_(std::move(timestamp)), clock_(clock), move_(std::move(move)), open_file_(std::move(open)) {}
LogWriter::LogWriter() : LogWriter([] { return platform::LocalDateTimeText(); }) {}

LogWriter::~LogWriter() { Stop(); }

void LogWriter::Start() {
  std::lock_guard lock(mutex_);
  if (writer_running_) return;
  try {
    writer_ = std::thread([this] {
      // Signalled however the loop ends, an unwinding thread's included.
      struct Ended {
        platform::WakeEvent& ended;
        ~Ended() { ended.Signal(); }
      } ended{writer_ended_};
      WriterLoop();
    });
  } catch (const std::system_error&) {
    return;  // callers write their own lines
  }
  writer_running_ = true;
}

void LogWriter::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!writer_running_) return;
    writer_running_ = false;  // from here on callers write their own lines
    stopping_ = true;
  }
  queued_.Signal();
  clock_.WaitForSignal(writer_ended_);
  writer_.join();
  std::lock_guard lock(mutex_);
  stopping_ = false;
}

void LogWriter::WriterLoop() {
  for (;;) {
    bool idle = false;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      idle = lines_.empty();
    }
    if (idle) {
      clock_.WaitForSignal(queued_);
    } else {
      WriteNext();
    }
  }
}

void LogWriter::Configure(std::string path, std::int32_t max_size) {
  std::lock_guard file_lock(file_mutex_);
  std::lock_guard lock(mutex_);
  if (!open_) file_.reset();  // left by a Close that found the file held
  path_ = std::move(path);
  max_size_ = max_size;
  rotation_failed_ = false;
}

void LogWriter::Open() {
  std::string path;
  std::uint64_t closes = 0;
  {
    std::lock_guard lock(mutex_);
    if (open_ || path_.empty()) return;
    path = path_;
    closes = closes_;
  }
  std::lock_guard file_lock(file_mutex_);
  OpenLocked(path);
  std::lock_guard lock(mutex_);
  if (closes != closes_) {
    file_.reset();  // a Close came while the disk opened the file: it stays closed
    return;
  }
  open_ = file_ != nullptr;
}

bool LogWriter::Close() {
  Drain(kCloseLimitMs);
  bool writer_busy = false;
  {
    std::lock_guard lock(mutex_);
    open_ = false;
    ++closes_;
    CountFailureLocked(lines_.size());
    lines_.clear();
    writer_busy = writing_;
  }
  // Whoever holds the file (a line being written, an open on a stalled
  // disk) closes it when done, seeing the log closed; the stop does not
  // wait for the disk here.
  std::unique_lock file_lock(file_mutex_, std::try_to_lock);
  if (file_lock.owns_lock()) file_.reset();
  return !writer_busy;
}

bool LogWriter::IsOpen() {
  std::lock_guard lock(mutex_);
  return open_;
}

bool LogWriter::Drain(std::uint32_t limit_ms) {
  const platform::Tick deadline = platform::DeadlineAfter(clock_.NowMs(), limit_ms);
  platform::WakeEvent written;
  std::unique_lock lock(mutex_);
  drains_.push_back(&written);
  for (;;) {
    if (lines_.empty() && !writing_) break;
    if (platform::IsDue(clock_.NowMs(), deadline)) break;
    lock.unlock();
    clock_.WaitUntil(deadline, written);
    lock.lock();
  }
  drains_.erase(std::find(drains_.begin(), drains_.end(), &written));
  return lines_.empty() && !writing_;
}

void LogWriter::OpenLocked(const std::string& path) {
  if (file_ || path.empty()) return;
  file_ = open_file_(path);
  if (file_) file_->Flush();
}

bool LogWriter::NeedsRotation(std::int64_t size_bytes, std::int32_t max_size) {
  // A threshold of zero or less keeps one line per file, even a line shorter
  // than one block.
  if (max_size <= 0) return size_bytes > 0;
  const std::int64_t blocks = size_bytes / 128;
  return static_cast<double>(blocks) > static_cast<double>(max_size) * 8 / 2;
}

void LogWriter::RotateLocked(const std::string& path) {
  // Our own handle does not share deletion, so the file is closed for the
  // move. The move replaces ".1" only when it succeeds: a log that another
  // program holds keeps both generations, and the reopen below appends to it.
  file_.reset();
  rotation_failed_ = !move_(path, path + ".1");
  if (rotation_failed_) rotation_failed_at_ = clock_.NowMs();
  OpenLocked(path);
}

void LogWriter::CountFailuresIn(FailureCounter* failures) {
  std::lock_guard lock(mutex_);
  failures_ = failures;
}

void LogWriter::CountFailureLocked(std::uint64_t lines) {
  if (failures_ && lines > 0) failures_->fetch_add(lines, std::memory_order_relaxed);
}

std::string LogWriter::FormatLine(std::string_view message) const {
  std::string line = timestamp_();
  line += " - ";
  line += SanitizeLine(message);
  line += "\r\n";
  return line;
}

void LogWriter::Write(std::string_view message) {
  bool write_here = false;
  {
    std::lock_guard lock(mutex_);
    if (!open_) {
      if (!path_.empty()) CountFailureLocked();
      return;
    }
    if (lines_.size() >= kQueueLimit) {
      ++dropped_;
      CountFailureLocked();
      return;
    }
    // Stamped here, so that the line carries the time of the event, not of the disk write.
    lines_.push_back(FormatLine(message));
    write_here = !writer_running_;
  }
  if (write_here) {
    while (WriteNext()) {
    }
  } else {
    queued_.Signal();
  }
}

bool LogWriter::WriteNext() {
  // Held from taking the line to its end on disk, so that callers writing
  // their own lines keep the queue's order.
  std::lock_guard file_lock(file_mutex_);
  std::string line;
  std::string path;
  std::int32_t max_size = 0;
  {
    std::lock_guard lock(mutex_);
    if (lines_.empty()) return false;
    line = std::move(lines_.front());
    lines_.pop_front();
    if (dropped_ > 0) {
      // Every line still queued came before the drops (the queue stayed full
      // since), so the slot just freed puts the report where they were.
      lines_.push_back(FormatLine("log lines dropped: " + std::to_string(dropped_)));
      dropped_ = 0;
    }
    writing_ = true;
    path = path_;
    max_size = max_size_;
  }
  const bool written = WriteToFile(line, path, max_size);
  bool closed = false;
  {
    std::lock_guard lock(mutex_);
    writing_ = false;
    if (!written) CountFailureLocked();
    if (!file_ && open_) {
      open_ = false;  // lost: the owner's next Open tries again
      if (wake_on_loss_) wake_on_loss_->Signal();
    }
    closed = !open_;
    for (platform::WakeEvent* drain : drains_) drain->Signal();
  }
  if (closed) file_.reset();  // Close() gave up on this line while it was written
  return true;
}

bool LogWriter::WriteToFile(const std::string& line, const std::string& path, std::int32_t max_size) {
  if (file_ && file_->Removed()) {
    // Deleted while open: the line goes to a new file at the path.
    file_.reset();
    OpenLocked(path);
  }
  if (!file_) return false;
  const std::int64_t size = file_->Size();
  const bool may_rotate = !rotation_failed_ || clock_.NowMs() - rotation_failed_at_ >= kRotationRetryMs;
  if (size >= 0 && may_rotate && NeedsRotation(size, max_size)) {
    RotateLocked(path);
    if (!file_) return false;
  }
  return file_->Write(line) && file_->Flush();
}

}  // namespace qov::config
