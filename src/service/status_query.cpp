#include "service/status_query.h"

#include <optional>
#include <string>

#include "platform/local_time.h"
#include "platform/status_host.h"

namespace qov::service {

StatusQueryFacts StatusQueryFacts::System() {
  return {platform::UtcNowSeconds(), platform::ProcessRuns,
          [](std::int64_t utc_s) { return platform::LocalDateTimeText(utc_s); }};
}

int RunStatusQuery(platform::StateStore& state, std::FILE* out, const StatusQueryFacts& facts) {
  const std::optional<std::string> text = state.ReadStatus();
  const std::optional<metrics::StatusRecord> record = text ? metrics::ParseStatus(*text) : std::nullopt;
  const metrics::StatusVerdict verdict =
      metrics::JudgeStatus(record, facts.utc_now, facts.process_runs, facts.time_text);
  const std::string shown = metrics::StatusText(record, verdict, facts.utc_now, facts.time_text);
  std::fputs(shown.c_str(), out);
  std::fflush(out);
  return verdict.exit_code;
}

}  // namespace qov::service
