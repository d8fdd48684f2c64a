#include "service/program_switches.h"

#include <array>
#include <string_view>

#include "config/param_rec.h"
#include "platform/default_paths.h"
#include "service/service_application.h"

#ifndef QOV_VERSION_TEXT
#error "QOV_VERSION_TEXT comes from the version resource through the build"
#endif

namespace qov::service {
namespace {

constexpr int kUsageProblemExit = 2;

// The switch's word without its "-", "--" or "/"; empty for a plain word.
std::string_view SwitchWord(std::string_view arg) {
  if (arg.starts_with("--")) return arg.substr(2);
  if (arg.size() > 1 && (arg[0] == '-' || arg[0] == '/')) return arg.substr(1);
  return {};
}

bool IsOneOf(std::string_view word, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    if (platform::SameTextIgnoringCase(word, name)) return true;
  }
  return false;
}

}  // namespace

const char* VersionText() { return QOV_VERSION_TEXT; }

std::string UsageText(const std::string& program_name) {
  return "Usage: " + program_name +
         " [switch]\n"
         "  (none)        run as the service (started by the service manager)\n"
         "  -INSTALL      register the service; -SILENT shows no box on success\n"
         "  -UNINSTALL    remove the service's registration; -SILENT as above\n"
         "  -CHECK        read the configuration as the service would and report it\n"
         "  -STATUS       show how the running service is (exit 0 healthy, 1 degraded,\n"
         "                3 not running)\n"
         "  -REPORT LOG [OUT.html | -]\n"
         "                what the log file (and its .1) shows happened, as one HTML\n"
         "                page (LOG.html by default) or as text (-)\n"
         "  -TEST MODEM   ask the running service to reset the modem now (commissioning)\n"
         "  -TEST COMPUTER  the same for the computer; asks for YES unless -SILENT\n"
         "  -HELP, -?     show this text\n"
         "  -VERSION      show the version\n" +
         platform::ConfigurationUsageText() +
         "Exit codes: 0 success; 1 a failed install or uninstall, an unreadable\n"
         "  configuration, or -CHECK with warnings only; 2 an unknown switch, or\n"
         "  -CHECK with an error. -TEST: 0 the board acknowledged, 1 it did not (or\n"
         "  the request was dropped, refused or not confirmed), 2 a usage error,\n"
         "  3 the service is not running.\n"
         "Log file: " + platform::DefaultLogFilePath() + " unless log_file_path is set.\n";
}

std::optional<int> AnswerProgramSwitches(platform::ServiceControl& sc, const std::vector<std::string>& args) {
  const std::string program = FileNameOf(sc.ModuleFileName());
  for (const std::string& arg : args) {
    const std::string_view word = SwitchWord(arg);
    if (IsOneOf(word, {"HELP", "H", "?"})) {
      sc.ShowText("Information", UsageText(program), false);
      return 0;
    }
    if (IsOneOf(word, {"VERSION"})) {
      sc.ShowText("Information", "QOV Lumo Service " + std::string(VersionText()), false);
      return 0;
    }
  }
  if (sc.UnknownWordsRunTheService()) return std::nullopt;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--config") {
      ++i;  // its file name; the configuration's loader checks both
      continue;
    }
    // "--" serves -HELP and -VERSION only: the others are taken with "-" or
    // "/", and "--check" must be refused here, not start a run.
    const bool single = !args[i].starts_with("--");
    if (single && IsOneOf(SwitchWord(args[i]), {"TEST"})) {
      ++i;  // what to reset; the test command checks it
      continue;
    }
    if (!single || !IsOneOf(SwitchWord(args[i]), {"INSTALL", "UNINSTALL", "SILENT", "CHECK", "STATUS"})) {
      sc.ShowText("Error", "Unknown word \"" + args[i] + "\".\n" + UsageText(program), true);
      return kUsageProblemExit;
    }
  }
  return std::nullopt;
}

}  // namespace qov::service
