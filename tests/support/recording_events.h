// An event sink that keeps every report, with what `probe` said at that moment.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config/events.h"

namespace qov::test {

class RecordingEvents final : public config::Events {
 public:
  struct Entry {
    config::EventId id;
    std::vector<std::string> args;
    std::string probed;
  };

  // When set, called at each report; its text is kept with the entry.
  std::function<std::string()> probe;

  void Report(config::EventId id, const std::vector<std::string>& args) override {
    std::lock_guard lock(mutex_);
    entries_.push_back({id, args, probe ? probe() : std::string()});
  }
  std::vector<Entry> Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  // "ID arg1|arg2" per entry, for comparing whole sequences.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& e : Entries()) {
      std::string t = std::to_string(static_cast<unsigned>(e.id));
      for (std::size_t i = 0; i < e.args.size(); ++i) t += (i ? "|" : " ") + e.args[i];
      out.push_back(t);
    }
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace qov::test
