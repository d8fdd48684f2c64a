// The computer resets of the last day and the reason for the last one, kept
// in the service's state: each reset ends the run that asked for it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/state_store.h"

namespace qov::supervision {

struct ResetRecord {
  std::int64_t utc_seconds = 0;
  std::string reason;
  bool operator==(const ResetRecord&) const = default;
};

// What the status record shows of the history.
struct ResetSummary {
  int last_day = 0;
  std::optional<ResetRecord> last;
};

// Used by the checker (count, record) and, at start, by the supervisor
// (the report); never at the same time. Summary() may be called from any
// thread at any time.
class ResetHistory {
 public:
  // `utc_now` is the wall clock in seconds.
  ResetHistory(platform::StateStore& store, std::function<std::int64_t()> utc_now);

  // Computer resets sent in the 24 h before now. The window is measured on
  // the wall clock, the only clock that survives a reset: a reset stored
  // with a later time than now (the clock was set back) counts as made now
  // and so stays counted for a full day from here; a clock set forward by
  // more than a day lets the old resets go, as that day's passing would.
  int CountLastDay();
  // Stores a computer reset that goes out now, and why, on the disk before
  // it returns. Nothing when it is stored, else what could not be (the
  // guard may then not count this reset after it).
  [[nodiscard]] std::optional<std::string> Record(const std::string& reason);
  // The last computer reset, once: the first call after Record gives it.
  std::optional<ResetRecord> TakeUnreported();
  // The resets of the 24 h before `utc_now` and the last one, as last loaded
  // or recorded; never reads the store.
  ResetSummary Summary(std::int64_t utc_now) const;

 private:
  void Publish(std::vector<std::int64_t> times, std::optional<ResetRecord> last);

  std::vector<std::int64_t> LoadTimes();
  // Nothing when stored, else why not.
  std::optional<std::string> StoreTimes(const std::vector<std::int64_t>& times);
  std::optional<std::string> Store(const char* name, const std::string& value);

  platform::StateStore& store_;
  std::function<std::int64_t()> utc_now_;
  // A copy of the stored times and last reset for Summary().
  mutable std::mutex published_mutex_;
  std::vector<std::int64_t> published_times_;
  std::optional<ResetRecord> published_last_;
};

inline constexpr std::int64_t kResetWindowSeconds = 24 * 60 * 60;

}  // namespace qov::supervision
