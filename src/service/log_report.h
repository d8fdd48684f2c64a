// A log file made readable after the fact: a plain-text summary for a
// terminal, and one self-contained HTML page (no scripts, nothing fetched)
// with a timeline of checks, the board, resets, dials and service runs.
#pragma once

#include <string>

#include "service/log_timeline.h"

namespace qov::service {

// `source` names the log in the heading.
std::string ReportText(const LogSummary& summary, const std::string& source);
std::string ReportHtml(const LogSummary& summary, const std::string& source);

}  // namespace qov::service
