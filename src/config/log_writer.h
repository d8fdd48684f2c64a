// The process-wide log file: one line per message, flushed at once, rotated
// to "<path>.1" when it grows past the configured size. A rotation that
// cannot move the file keeps writing to it and is tried again a minute later.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "config/log.h"
#include "metrics/metrics.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace qov::config {

class LogWriter final : public Log {
 public:
  using TimestampFn = std::function<std::string()>;
  // Moves the full log onto "<path>.1", replacing it; false when it did not.
  using MoveFn = std::function<bool(const std::string& from, const std::string& to)>;

  // A failed rotation waits this long before the next attempt.
  static constexpr platform::Tick kRotationRetryMs = 60'000;

  explicit LogWriter(TimestampFn timestamp, platform::Clock& clock = platform::SystemClock(),
                     MoveFn move = platform::MoveFileReplacing);
  LogWriter();  // local date and time of the system

  // Path and rotation threshold (in 512-byte units) from the configuration.
  void Configure(std::string path, std::int32_t max_size);
  // Opens the file for appending (creating it) unless it is open already.
  void Open();
  void Close();
  bool IsOpen();
  // Writers are serialised: a message is never lost to another writer, and
  // each waits for at most the write in progress. Dropped while not open.
  void Write(std::string_view message) override;
  // Where lines that did not reach the file (a failed write, or a file that
  // could not be opened) are counted; null counts nothing.
  void CountFailuresIn(metrics::Counter* failures);

  // True when a file of `size_bytes` is past the threshold: its 128-byte
  // block count exceeds max_size * 4.
  static bool NeedsRotation(std::int64_t size_bytes, std::int32_t max_size);

 private:
  void OpenLocked();
  void RotateLocked();

  TimestampFn timestamp_;
  platform::Clock& clock_;
  MoveFn move_;
  std::mutex mutex_;
  std::string path_;
  std::int32_t max_size_ = 1024;
  std::unique_ptr<platform::AppendFile> file_;
  metrics::Counter* failures_ = nullptr;
  // When the last rotation failed; no new attempt before kRotationRetryMs later.
  bool rotation_failed_ = false;
  platform::Tick rotation_failed_at_ = 0;
};

}  // namespace qov::config
