#include "metrics/metrics_writer.h"

#include <utility>

#include "metrics/metrics_text.h"
#include "platform/file.h"

namespace qov::metrics {

// Readable by everyone: an exporter that runs under its own account reads it.
MetricsWriter::WriteFn MetricsWriter::DefaultWrite() {
  return [](const std::string& path, std::string_view text) {
    return platform::ReplaceFileContents(path, text, platform::kPublicFileMode);
  };
}

MetricsWriter::MetricsWriter(const Metrics& metrics, config::Log& log, std::string path, std::int32_t period_s,
                             WriteFn write, WallClock utc_now_s)
    : metrics_(metrics),
      log_(log),
      path_(std::move(path)),
      period_ms_(std::int64_t{period_s} * 1000),
      write_(std::move(write)),
      utc_now_s_(std::move(utc_now_s)) {}

platform::Tick MetricsWriter::WriteIfDue(platform::Tick now) {
  if (written_once_ && now < next_) return next_;
  written_once_ = true;
  next_ = now + period_ms_;
  Write(now, true);
  return next_;
}

void MetricsWriter::WriteStopped(platform::Tick now) { Write(now, false); }

void MetricsWriter::Write(platform::Tick now, bool up) {
  const std::string text = FormatMetrics(TakeSnapshot(metrics_, now, utc_now_s_(), up));
  const std::optional<std::string> failure = write_(path_, text);
  // Once per run: a folder that stays away must not fill the log.
  if (failure && !failure_logged_) {
    failure_logged_ = true;
    log_.Write("metrics file write fail (" + path_ + "): " + *failure);
  }
}

}  // namespace qov::metrics
