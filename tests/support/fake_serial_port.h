// A serial port that records what is written to it and hands out scripted
// chunks on Read; a hook on Write lets a fake device answer.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_port.h"

namespace qov::test {

class FakeSerialPort final : public platform::SerialPort {
 public:
  struct Written {
    platform::Tick at;
    std::vector<std::uint8_t> bytes;
  };

  explicit FakeSerialPort(platform::Clock& clock) : clock_(clock) {}

  bool Open(std::int32_t, const std::string& device_path) override {
    std::lock_guard lock(mutex_);
    open_paths_.push_back(device_path);
    open_ = open_succeeds.load();
    return open_;
  }
  void Close() override {
    std::lock_guard lock(mutex_);
    if (open_) closes_++;
    open_ = false;
  }
  bool IsOpen() const override {
    std::lock_guard lock(mutex_);
    return open_;
  }

  // The next queued chunk, or `idle_read_result` when none is queued.
  std::int32_t Read(std::uint8_t* buffer, std::int32_t count) override {
    std::lock_guard lock(mutex_);
    reads_++;
    if (chunks_.empty()) return idle_read_result;
    std::string chunk = std::move(chunks_.front());
    chunks_.pop_front();
    const auto n = std::min<std::int32_t>(count, static_cast<std::int32_t>(chunk.size()));
    std::copy(chunk.begin(), chunk.begin() + n, buffer);
    return n;
  }

  std::int32_t Write(const std::uint8_t* buffer, std::int32_t count) override {
    std::vector<std::uint8_t> bytes(buffer, buffer + count);
    if (writes_block) {
      // Nothing goes out: the write time-out passes and the write fails.
      platform::WakeEvent never;
      clock_.WaitUntil(platform::DeadlineAfter(clock_.NowMs(), platform::kWriteTimeoutMs), never);
      std::lock_guard lock(mutex_);
      blocked_writes_++;
      return -2;
    }
    std::function<void(const std::vector<std::uint8_t>&)> hook;
    {
      std::lock_guard lock(mutex_);
      written_.push_back({clock_.NowMs(), bytes});
      hook = on_write;
    }
    if (hook) hook(bytes);
    return count;
  }

  void InterruptRead() override { interrupts_++; }

  void QueueChunk(std::string chunk) {
    std::lock_guard lock(mutex_);
    chunks_.push_back(std::move(chunk));
  }
  std::vector<Written> WrittenFrames() const {
    std::lock_guard lock(mutex_);
    return written_;
  }
  // The command code (4th byte) of every frame written, in order.
  std::vector<int> Codes() const {
    std::lock_guard lock(mutex_);
    std::vector<int> codes;
    for (const auto& w : written_) codes.push_back(w.bytes.size() == 4 ? w.bytes[3] : -1);
    return codes;
  }
  std::vector<std::string> OpenPaths() const {
    std::lock_guard lock(mutex_);
    return open_paths_;
  }
  int Closes() const {
    std::lock_guard lock(mutex_);
    return closes_;
  }
  int Reads() const {
    std::lock_guard lock(mutex_);
    return reads_;
  }
  int BlockedWrites() const {
    std::lock_guard lock(mutex_);
    return blocked_writes_;
  }
  int Interrupts() const { return interrupts_.load(); }

  std::atomic<bool> open_succeeds{true};
  // While set, every write waits out the write time-out and fails.
  std::atomic<bool> writes_block{false};
  std::int32_t idle_read_result = 0;
  // Set before the port is used; called on the writing thread.
  std::function<void(const std::vector<std::uint8_t>&)> on_write;

 private:
  platform::Clock& clock_;
  mutable std::mutex mutex_;
  bool open_ = false;
  int closes_ = 0;
  int reads_ = 0;
  int blocked_writes_ = 0;
  std::atomic<int> interrupts_{0};
  std::vector<std::string> open_paths_;
  std::deque<std::string> chunks_;
  std::vector<Written> written_;
};

}  // namespace qov::test
