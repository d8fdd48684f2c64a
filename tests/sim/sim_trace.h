// What one simulated run did, in order: every log line of the service and
// every world event, with its virtual time. Kept whole only when a trace
// file is asked for; otherwise a running hash and the last lines, which a
// violation prints.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>

#include "platform/clock.h"

namespace qov::sim {

class Trace {
 public:
  explicit Trace(std::FILE* file) : file_(file) {}

  // A `routine` line (a life message, a passing check) goes to the file and
  // the hash but not among the last lines a violation shows.
  void Add(platform::Tick at, const std::string& who, const std::string& what, bool routine = false) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%12.3f", static_cast<double>(at) / 1000.0);
    std::string line = std::string(stamp) + " " + who + ": " + what;
    for (const char c : line) hash_ = (hash_ ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    hash_ = (hash_ ^ '\n') * 0x100000001b3ULL;
    ++lines_;
    if (file_) std::fprintf(file_, "%s\n", line.c_str());
    if (routine) return;
    last_.push_back(std::move(line));
    if (last_.size() > kKeep) last_.pop_front();
  }
  void CountFault(const std::string& kind) { ++faults_[kind]; }

  std::uint64_t Hash() const { return hash_; }
  std::uint64_t Lines() const { return lines_; }
  const std::deque<std::string>& Last() const { return last_; }
  const std::map<std::string, int>& Faults() const { return faults_; }

 private:
  static constexpr std::size_t kKeep = 40;
  std::FILE* file_;
  std::uint64_t hash_ = 0xcbf29ce484222325ULL;
  std::uint64_t lines_ = 0;
  std::deque<std::string> last_;
  std::map<std::string, int> faults_;
};

}  // namespace qov::sim
