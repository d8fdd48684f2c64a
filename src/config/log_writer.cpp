#include "config/log_writer.h"

#include <utility>

#include "config/sanitize_line.h"
#include "platform/local_time.h"

namespace qov::config {

LogWriter::LogWriter(TimestampFn timestamp, platform::Clock& clock, MoveFn move)
    : timestamp_(std::move(timestamp)), clock_(clock), move_(std::move(move)) {}
LogWriter::LogWriter() : LogWriter([] { return platform::LocalDateTimeText(); }) {}

void LogWriter::Configure(std::string path, std::int32_t max_size) {
  std::lock_guard lock(mutex_);
  path_ = std::move(path);
  max_size_ = max_size;
  rotation_failed_ = false;
}

void LogWriter::Open() {
  std::lock_guard lock(mutex_);
  OpenLocked();
}

void LogWriter::Close() {
  std::lock_guard lock(mutex_);
  file_.reset();
}

bool LogWriter::IsOpen() {
  std::lock_guard lock(mutex_);
  return file_ != nullptr;
}

void LogWriter::OpenLocked() {
  if (file_ || path_.empty()) return;
  file_ = platform::AppendFile::Open(path_);
  if (file_) file_->Flush();
}

bool LogWriter::NeedsRotation(std::int64_t size_bytes, std::int32_t max_size) {
  // A threshold of zero or less keeps one line per file, even a line shorter
  // than one block.
  if (max_size <= 0) return size_bytes > 0;
  const std::int64_t blocks = size_bytes / 128;
  return static_cast<double>(blocks) > static_cast<double>(max_size) * 8 / 2;
}

void LogWriter::RotateLocked() {
  // Our own handle does not share deletion, so the file is closed for the
  // move. The move replaces ".1" only when it succeeds: a log that another
  // program holds keeps both generations, and the reopen below appends to it.
  file_.reset();
  rotation_failed_ = !move_(path_, path_ + ".1");
  if (rotation_failed_) rotation_failed_at_ = clock_.NowMs();
  OpenLocked();
}

void LogWriter::CountFailuresIn(metrics::Counter* failures) {
  std::lock_guard lock(mutex_);
  failures_ = failures;
}

void LogWriter::Write(std::string_view message) {
  std::lock_guard lock(mutex_);
  if (file_ && file_->Removed()) {
    // Deleted while open: the next line goes to a new file at the path.
    file_.reset();
    OpenLocked();
  }
  if (!file_) {
    if (failures_ && !path_.empty()) failures_->fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const std::int64_t size = file_->Size();
  const bool may_rotate = !rotation_failed_ || clock_.NowMs() - rotation_failed_at_ >= kRotationRetryMs;
  if (size >= 0 && may_rotate && NeedsRotation(size, max_size_)) {
    RotateLocked();
    if (!file_) {
      if (failures_) failures_->fetch_add(1, std::memory_order_relaxed);
      return;
    }
  }
  std::string line = timestamp_();
  line += " - ";
  line += SanitizeLine(message);
  line += "\r\n";
  const bool written = file_->Write(line) && file_->Flush();
  if (!written && failures_) failures_->fetch_add(1, std::memory_order_relaxed);
}

}  // namespace qov::config
