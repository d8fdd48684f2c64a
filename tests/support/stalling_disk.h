// A log file kept in memory on a disk that can stall, as an SD card or a
// network share does: while held, every write and every open waits until
// the disk is released. Tests wait on its events (a write stalled, lines arrived,
// the file closed), never on time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace qov::test {

class StallingDisk {
 public:
  StallingDisk() = default;
  StallingDisk(const StallingDisk&) = delete;
  StallingDisk& operator=(const StallingDisk&) = delete;

  // What the log writer opens: every open appends to the one text here.
  // The disk must outlive the writer.
  std::function<std::unique_ptr<platform::AppendFile>(const std::string&)> Opener() {
    return [this](const std::string&) -> std::unique_ptr<platform::AppendFile> {
      std::unique_lock lock(mutex_);
      WaitWhileHeld(lock);
      ++open_files_;
      return std::make_unique<File>(*this);
    };
  }

  void Hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }
  // Returns once a write or an open is waiting on the hold (or there is no
  // hold any more).
  void WaitForStalledWrite() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stalled_ > 0 || !held_; });
  }
  // Returns once `lines` CR LF ended lines are on the disk.
  void WaitForLines(std::size_t lines) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return LineCount() >= lines; });
  }
  // Returns once every file opened on the disk is closed again.
  void WaitUntilClosed() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return open_files_ == 0; });
  }
  std::string Text() {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  class File final : public platform::AppendFile {
   public:
    explicit File(StallingDisk& disk) : disk_(disk) {}
    ~File() override {
      std::lock_guard lock(disk_.mutex_);
      --disk_.open_files_;
      disk_.changed_.notify_all();
    }
    bool Write(std::string_view data) override {
      std::unique_lock lock(disk_.mutex_);
      disk_.WaitWhileHeld(lock);
      disk_.text_ += data;
      disk_.changed_.notify_all();
      return true;
    }
    bool Flush() override { return true; }
    std::int64_t Size() override {
      std::lock_guard lock(disk_.mutex_);
      return static_cast<std::int64_t>(disk_.text_.size());
    }
    bool Removed() override { return false; }

   private:
    StallingDisk& disk_;
  };

  void WaitWhileHeld(std::unique_lock<std::mutex>& lock) {
    ++stalled_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !held_; });
    --stalled_;
  }

  std::size_t LineCount() const {
    std::size_t n = 0;
    for (std::size_t at = text_.find("\r\n"); at != std::string::npos; at = text_.find("\r\n", at + 2)) ++n;
    return n;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  int stalled_ = 0;
  int open_files_ = 0;
  std::string text_;
};

}  // namespace qov::test
