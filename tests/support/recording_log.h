// A log that keeps its messages (with the fake time they were written at).
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "config/log.h"
#include "platform/clock.h"

namespace qov::test {

class RecordingLog final : public config::Log {
 public:
  struct Line {
    platform::Tick at;
    std::string text;
  };

  explicit RecordingLog(platform::Clock* clock = nullptr) : clock_(clock) {}

  void Write(std::string_view message) override {
    std::lock_guard lock(mutex_);
    lines_.push_back({clock_ ? clock_->NowMs() : 0, std::string(message)});
  }

  std::vector<Line> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  std::vector<std::string> Texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& l : lines_) out.push_back(l.text);
    return out;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }
  long Count(const std::string& text) const {
    std::lock_guard lock(mutex_);
    return std::count_if(lines_.begin(), lines_.end(), [&](const Line& l) { return l.text == text; });
  }

 private:
  platform::Clock* clock_;
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
};

}  // namespace qov::test
