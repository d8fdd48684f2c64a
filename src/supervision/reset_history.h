// The computer resets of the last day and the reason for the last one, kept
// in the service's state: each reset ends the run that asked for it.
#pragma once

#include <cstdint>
#include <functional>
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

// Used by the checker (count, record) and, at start, by the supervisor
// (the report); never at the same time.
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

 private:
  std::vector<std::int64_t> LoadTimes();
  // Nothing when stored, else why not.
  std::optional<std::string> StoreTimes(const std::vector<std::int64_t>& times);
  std::optional<std::string> Store(const char* name, const std::string& value);

  platform::StateStore& store_;
  std::function<std::int64_t()> utc_now_;
};

inline constexpr std::int64_t kResetWindowSeconds = 24 * 60 * 60;

}  // namespace qov::supervision
