// The words the program answers before any service run: the usage and the
// version, and, where unknown words are not a service run, a usage problem.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/service_control.h"

namespace qov::service {

// The version of the exe's version resource.
const char* VersionText();

// The usage: switches, exit codes, where the configuration and the log live.
std::string UsageText(const std::string& program_name);

// Answers "-HELP", "-H", "-?" (exit 0), "-VERSION" (exit 0) and, where the
// platform does not run the service for words it does not know, any such word
// (the usage as a problem, exit 2). A switch starts with "-", "--" or "/" and
// is matched without regard to case. Nothing when the words are for a run,
// an install, an uninstall, a check or a status query.
std::optional<int> AnswerProgramSwitches(platform::ServiceControl& sc, const std::vector<std::string>& args);

}  // namespace qov::service
