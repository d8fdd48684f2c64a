// The process-wide log file: one line per message, flushed at once, rotated
// to "<path>.1" when it grows past the configured size.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "config/log.h"
#include "platform/file.h"

namespace qov::config {

class LogWriter final : public Log {
 public:
  using TimestampFn = std::function<std::string()>;
  explicit LogWriter(TimestampFn timestamp);
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

  // True when a file of `size_bytes` is past the threshold: its 128-byte
  // block count exceeds max_size * 4.
  static bool NeedsRotation(std::int64_t size_bytes, std::int32_t max_size);

 private:
  void OpenLocked();
  void RotateLocked();

  TimestampFn timestamp_;
  std::mutex mutex_;
  std::string path_;
  std::int32_t max_size_ = 1024;
  std::unique_ptr<platform::AppendFile> file_;
};

}  // namespace qov::config
