#include "service/report_command.h"

#include "platform/file.h"
#include "service/log_report.h"
#include "service/service_application.h"

namespace qov::service {

std::optional<int> AnswerReportSwitch(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  std::size_t at = 0;
  while (at < args.size() && !HasSwitch({args[at]}, "REPORT")) ++at;
  if (at == args.size()) return std::nullopt;
  if (at + 1 >= args.size()) {
    std::fputs("-REPORT needs the log file: -REPORT LOGFILE [OUT.html | -]\n", err);
    return 2;
  }
  const std::string log = args[at + 1];
  const std::string target = at + 2 < args.size() ? args[at + 2] : log + ".html";

  std::vector<std::string> texts;
  // The older generation first; it need not exist.
  if (auto older = platform::ReadTextFile(log + ".1")) texts.push_back(std::move(*older));
  auto current = platform::ReadTextFile(log);
  if (!current) {
    std::fprintf(err, "Cannot read the log file %s\n", log.c_str());
    return 1;
  }
  texts.push_back(std::move(*current));
  const LogSummary summary = Summarize(texts);
  if (target == "-") {
    std::fputs(ReportText(summary, log).c_str(), out);
    return 0;
  }
  if (const auto failed = platform::ReplaceFileContents(target, ReportHtml(summary, log))) {
    std::fprintf(err, "Cannot write %s: %s\n", target.c_str(), failed->c_str());
    return 1;
  }
  std::fprintf(out, "%s\n", target.c_str());
  return 0;
}

}  // namespace qov::service
