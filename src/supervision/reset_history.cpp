#include "supervision/reset_history.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace qov::supervision {
namespace {

constexpr const char* kTimes = "reset_comp_times";
constexpr const char* kLastTime = "last_reset_time";
constexpr const char* kLastReason = "last_reset_reason";
constexpr const char* kLastReported = "last_reset_reported";
// More than any sane limit per day; bounds the stored text.
constexpr std::size_t kMaxTimes = 256;

std::optional<std::int64_t> ParseSeconds(std::string_view text) {
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

}  // namespace

ResetHistory::ResetHistory(platform::StateStore& store, std::function<std::int64_t()> utc_now)
    : store_(store), utc_now_(std::move(utc_now)) {
  std::optional<ResetRecord> last;
  if (const auto time = ParseSeconds(store_.Get(kLastTime).value_or(""))) {
    last = ResetRecord{*time, store_.Get(kLastReason).value_or("")};
  }
  Publish(LoadTimes(), std::move(last));
}

void ResetHistory::Publish(std::vector<std::int64_t> times, std::optional<ResetRecord> last) {
  std::lock_guard lock(published_mutex_);
  published_times_ = std::move(times);
  if (last) published_last_ = std::move(last);
}

ResetSummary ResetHistory::Summary(std::int64_t utc_now) const {
  std::lock_guard lock(published_mutex_);
  ResetSummary s;
  // Counted as CountLastDay counts: a time after now counts as now.
  for (const std::int64_t t : published_times_) {
    if (utc_now - std::min(t, utc_now) < kResetWindowSeconds) ++s.last_day;
  }
  s.last = published_last_;
  return s;
}

std::vector<std::int64_t> ResetHistory::LoadTimes() {
  std::vector<std::int64_t> times;
  const std::string text = store_.Get(kTimes).value_or("");
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t comma = std::min(text.find(',', from), text.size());
    if (auto t = ParseSeconds(std::string_view(text).substr(from, comma - from))) times.push_back(*t);
    from = comma + 1;
  }
  return times;
}

std::optional<std::string> ResetHistory::Store(const char* name, const std::string& value) {
  std::string why;
  if (store_.Set(name, value, &why)) return std::nullopt;
  return std::string(name) + ": " + why;
}

std::optional<std::string> ResetHistory::StoreTimes(const std::vector<std::int64_t>& times) {
  std::string text;
  for (const std::int64_t t : times) text += (text.empty() ? "" : ",") + std::to_string(t);
  return Store(kTimes, text);
}

int ResetHistory::CountLastDay() {
  const std::int64_t now = utc_now_();
  std::vector<std::int64_t> kept;
  bool changed = false;
  for (std::int64_t t : LoadTimes()) {
    if (t > now) {
      t = now;  // from a clock that ran ahead: counts from now on
      changed = true;
    }
    if (now - t < kResetWindowSeconds) {
      kept.push_back(t);
    } else {
      changed = true;
    }
  }
  // A failed trim is retried by the next count or record.
  if (changed) (void)StoreTimes(kept);
  Publish(kept, std::nullopt);
  return static_cast<int>(kept.size());
}

std::optional<std::string> ResetHistory::Record(const std::string& reason) {
  CountLastDay();  // drops what has left the window
  std::vector<std::int64_t> times = LoadTimes();
  const std::int64_t now = utc_now_();
  times.push_back(now);
  if (times.size() > kMaxTimes) times.erase(times.begin(), times.end() - kMaxTimes);
  // Every value is tried, the guard's count first; the first failure is told.
  std::optional<std::string> failure = StoreTimes(times);
  for (const auto& [name, value] : {std::pair<const char*, std::string>{kLastTime, std::to_string(now)},
                                    {kLastReason, reason},
                                    {kLastReported, "0"}}) {
    auto failed = Store(name, value);
    if (!failure) failure = std::move(failed);
  }
  Publish(std::move(times), ResetRecord{now, reason});
  return failure;
}

std::optional<ResetRecord> ResetHistory::TakeUnreported() {
  if (store_.Get(kLastReported).value_or("1") != "0") return std::nullopt;
  const auto time = ParseSeconds(store_.Get(kLastTime).value_or(""));
  if (!time) return std::nullopt;
  store_.Set(kLastReported, "1");
  return ResetRecord{*time, store_.Get(kLastReason).value_or("")};
}

}  // namespace qov::supervision
