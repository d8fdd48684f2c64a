// "-REPORT LOGFILE [OUT.html | -]": the log file (and its ".1") as one HTML
// page, or as plain text on standard output for "-".
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace qov::service {

// Nothing when the words ask for no report; otherwise the exit code: 0 the
// report was written, 1 the log could not be read or the page written, 2 no
// log file was named. Without OUT the page goes to "<LOGFILE>.html".
std::optional<int> AnswerReportSwitch(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace qov::service
