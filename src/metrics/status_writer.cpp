#include "metrics/status_writer.h"

#include <utility>

namespace qov::metrics {
namespace {

constexpr const char* kStoppedSummary = "QOV Lumo service: stopped";

// The facts whose change is written at once; ages and times that only move
// on wait for the refresh.
std::string ChangeKey(const StatusRecord& r, const std::string& summary) {
  return summary + "|" + std::to_string(r.resets_last_day) + "|" + std::to_string(r.last_reset_s) + "|" +
         std::to_string(r.settle_until_s);
}

}  // namespace

StatusWriter::StatusWriter(Gather gather, Publish publish, Announce announce, config::Log& log, TimeText time_text)
    : gather_(std::move(gather)),
      publish_(std::move(publish)),
      announce_(std::move(announce)),
      log_(log),
      time_text_(std::move(time_text)) {}

platform::Tick StatusWriter::WriteIfDue(platform::Tick now) {
  StatusRecord r = gather_(now);
  r.running = true;
  const std::string summary = SummaryLine(r, time_text_);
  if (written_once_ && now < next_ && ChangeKey(r, summary) == last_key_) return next_;
  written_once_ = true;
  next_ = platform::DeadlineAfter(now, kStatusRefreshMs);
  last_key_ = ChangeKey(r, summary);
  Write(r, summary);
  return next_;
}

void StatusWriter::WriteStopped(platform::Tick now) {
  StatusRecord r = gather_(now);
  r.running = false;
  Write(r, kStoppedSummary);
}

void StatusWriter::Write(const StatusRecord& r, const std::string& summary) {
  if (summary != last_summary_) {
    last_summary_ = summary;
    announce_(summary);
  }
  const std::optional<std::string> failure = publish_(SerializeStatus(r));
  // Once per run: a store that stays away must not fill the log.
  if (failure && !failure_logged_) {
    failure_logged_ = true;
    log_.Write("status record write fail: " + *failure);
  }
}

}  // namespace qov::metrics
