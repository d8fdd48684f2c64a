#include "service/config_check.h"

#include <algorithm>
#include <type_traits>

#include "config/config_loader.h"
#include "device/com_port.h"
#include "platform/serial_port.h"
#include "platform/system_facts.h"
#include "supervision/check_address.h"
#include "supervision/checker.h"
#include "supervision/supervisor.h"

namespace qov::service {
namespace {

using config::Origin;
using config::TParamRec;

const char* OriginText(Origin o) {
  switch (o) {
    case Origin::Set: return "set";
    case Origin::Clamped: return "clamped";
    case Origin::WrongType: return "wrong type, so default";
    case Origin::Missing: return "not stored, so empty";
    case Origin::ControlCharacter: return "control character, so default";
    case Origin::Default: break;
  }
  return "default";
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// A value's text in the listing: a number, or a text in double quotes.
template <typename T>
std::string ShownText(const T& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    return Quoted(value);
  } else {
    return std::to_string(value);
  }
}

using Listing = std::vector<std::pair<std::string, std::string>>;

// Every value with the text of what takes effect, in the listing's order.
Listing EffectiveValues(const TParamRec& p) {
  std::vector<std::pair<int, Listing>> places;
  const auto add = [&](int shown_at, const std::string& name, const auto& value) {
    Listing lines;
    if constexpr (std::is_same_v<std::decay_t<decltype(value)>, config::CheckAddrList>) {
      // The entries in use.
      for (int n = 0; n < p.check_addr_count; ++n) {
        lines.push_back({name + "_" + std::to_string(n), ShownText(value[static_cast<std::size_t>(n)])});
      }
    } else {
      lines.push_back({name, ShownText(value)});
    }
    places.push_back({shown_at, std::move(lines)});
  };
#define QOV_PARAM(name, type, default_value, limit, shown_at) add(shown_at, #name, p.name);
#include "config/param_fields.def"
  std::stable_sort(places.begin(), places.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  Listing v;
  for (auto& place : places) {
    for (auto& line : place.second) v.push_back(std::move(line));
  }
  // The checker bounds the echo time-out; the listing shows the bound.
  for (auto& [name, text] : v) {
    if (name == "check_wait_resp_s") text = std::to_string(supervision::EchoTimeoutMs(p.check_wait_resp_s) / 1000);
  }
  return v;
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& i : items) out += (out.empty() ? "" : ", ") + i;
  return out.empty() ? "none" : out;
}

// The host part of an HTTP target as the probe would request it.
std::string HttpHost(const std::string& target) {
  std::string rest = target;
  const std::size_t scheme = rest.find("://");
  if (scheme != std::string::npos) rest = rest.substr(scheme + 3);
  return rest.substr(0, rest.find_first_of("/:?#"));
}

void FindProblems(const config::LoadResult& loaded, const CheckFacts& facts, std::vector<CheckProblem>& out) {
  const TParamRec& p = loaded.params;
  const auto warn = [&](std::string t) { out.push_back({false, std::move(t)}); };
  const auto error = [&](std::string t) { out.push_back({true, std::move(t)}); };
  const bool resets = p.reset_modem || p.reset_comp;

  for (const auto& name : loaded.wrong_type_values) {
    warn("'" + name + "' is stored with the wrong type: the default is used and the log says so at every start");
  }
  for (const auto& name : loaded.control_character_values) {
    warn("'" + name +
         "' holds a control character (a line break, a tab, an escape...): the default is used and the log says so "
         "at every start");
  }
  const std::vector<std::string> ports = facts.serial_ports();
  if (!device::PortListed(ports, p.qov_com_port)) {
    error("qov_com_port " + Quoted(p.qov_com_port) + " is not a serial port of this system (listed: " + Join(ports) +
          "): the board is never opened, never fed, and its timer never starts");
  }
  const bool dial = p.connection_need_dial && !p.connection_name.empty();
  if (p.connection_need_dial && p.connection_name.empty()) {
    error("connection_need_dial is set but connection_name is empty: the checker never starts, nothing is probed");
  }
  if (dial && !facts.program_found("rasdial")) {
    error("dial mode, but no \"rasdial\" program is found on the search path: every dial fails, so the checker "
          "never starts");
  }
  if (dial && !supervision::RasdialCommandLine(p.connection_name)) {
    error("connection_name holds a double quote: it is never dialled, so the checker never starts");
  }
  if (p.check_addr_count == 0 && loaded.OriginOf("check_addr_count") == Origin::Clamped) {
    warn("check_addr_count is out of 1 ... 64: nothing is probed, so no cycle fails and nothing is reset");
  }
  if (p.check_addr_count >= 1 && p.check_addr[0].empty()) {
    error("check_addr_count is " + std::to_string(p.check_addr_count) +
          " but check_addr_0 is missing: that address always fails" +
          (p.check_addr_count == 1 ? std::string(", so every cycle fails") + (resets ? " and escalates to resets" : "")
                                   : std::string()));
  }
  for (int n = 0; n < p.check_addr_count; ++n) {
    const auto a = supervision::ParseCheckAddress(p.check_addr[static_cast<std::size_t>(n)]);
    if (a.method == supervision::ProbeMethod::kHttp && HttpHost(a.target).empty() && !a.target.empty()) {
      warn("check_addr_" + std::to_string(n) + " " + Quoted(p.check_addr[static_cast<std::size_t>(n)]) +
           " names no host: that address always fails");
    } else if (a.method == supervision::ProbeMethod::kHttp && a.target.empty() && n > 0) {
      warn("check_addr_" + std::to_string(n) + " is empty: that address always fails");
    }
  }
  if (p.check_fail_loop_count <= 0 && resets) {
    warn("check_fail_loop_count is " + std::to_string(p.check_fail_loop_count) +
         ": every failed cycle escalates to a reset");
  }
  if (resets && !dial && p.wait_time_after_start_s < 120) {
    warn("resets are enabled with a start-up delay of " + std::to_string(p.wait_time_after_start_s) +
         " s: checks begin before the connection may be up, and a slow start can be reset");
  }
  if (resets && p.reset_dry_run) {
    warn("reset_dry_run is set: escalations are logged, reported and counted, but no reset command is sent to the "
         "board");
  }
  if (p.program_ctrl_process_name.empty() != p.program_ctrl_command_line.empty()) {
    warn(std::string(p.program_ctrl_process_name.empty() ? "program_ctrl_command_line is set without "
                                                          "program_ctrl_process_name"
                                                        : "program_ctrl_process_name is set without "
                                                          "program_ctrl_command_line") +
         ": program control does nothing");
  }
  const auto open_to_others = [&facts](const std::string& f) {
    return facts.folder_writable_by_others && facts.folder_writable_by_others(f);
  };
  const std::string folder = platform::FolderOf(p.log_file_path);
  if (!facts.folder_exists(folder)) {
    warn("the log folder " + Quoted(folder) + " does not exist: nothing is logged until it does (the board is "
                                              "still fed)");
  } else if (!facts.folder_writable(folder)) {
    warn("the log folder " + Quoted(folder) + " cannot be written: nothing is logged (the board is still fed)");
  } else if (open_to_others(folder)) {
    warn("the log folder " + Quoted(folder) +
         " can be written by accounts other than root: they can delete or replace the log, or stop it with a "
         "link at its name");
  }
  if (!p.metrics_file_path.empty()) {
    const std::string metrics_folder = platform::FolderOf(p.metrics_file_path);
    if (!facts.folder_exists(metrics_folder) || !facts.folder_writable(metrics_folder)) {
      warn("the metrics folder " + Quoted(metrics_folder) +
           " does not exist or cannot be written: no metrics file until it can (logged once per run)");
    } else if (open_to_others(metrics_folder)) {
      warn("the metrics folder " + Quoted(metrics_folder) +
           " can be written by accounts other than root: they can replace the metrics file, or stop it with a "
           "link at its name");
    }
  }
  if (!facts.state_folder.empty() && facts.folder_exists(facts.state_folder) && open_to_others(facts.state_folder)) {
    warn("the state folder " + Quoted(facts.state_folder) +
         " can be written by accounts other than root: they can replace the record of computer resets that "
         "reset_comp_max_per_day counts");
  }
}

}  // namespace

CheckFacts CheckFacts::System() {
  return {platform::ListSerialPorts, platform::FolderExists,        platform::FolderWritable,
          platform::FolderWritableByOthers, platform::ProgramOnSearchPath, platform::SystemStateFolder()};
}

int CheckReport::ExitStatus() const {
  if (std::any_of(problems.begin(), problems.end(), [](const CheckProblem& p) { return p.error; })) return 2;
  return problems.empty() ? 0 : 1;
}

std::string CheckReport::Text() const {
  std::string t = "Configuration (" + std::string(config::kConfigKey).substr(1) + "):\n";
  for (const auto& v : values) t += "  " + v + "\n";
  if (problems.empty()) return t + "No problems found.\n";
  t += "Problems:\n";
  for (const auto& p : problems) t += std::string(p.error ? "  error: " : "  warning: ") + p.text + "\n";
  return t;
}

std::vector<CheckProblem> FindConfigurationProblems(const config::LoadResult& loaded, const CheckFacts& facts) {
  std::vector<CheckProblem> problems;
  FindProblems(loaded, facts, problems);
  return problems;
}

CheckReport CheckConfiguration(platform::Registry& registry, const CheckFacts& facts) {
  const config::LoadResult loaded = config::LoadConfig(registry);
  CheckReport report;
  config::LoadResult shown = loaded;
  // The checker bounds the echo time-out; say so where it does.
  if (static_cast<std::int64_t>(supervision::EchoTimeoutMs(loaded.params.check_wait_resp_s)) / 1000 !=
      loaded.params.check_wait_resp_s) {
    shown.origins["check_wait_resp_s"] = Origin::Clamped;
  }
  for (const auto& [name, value] : EffectiveValues(loaded.params)) {
    report.values.push_back(name + " = " + value + " (" + OriginText(shown.OriginOf(name)) + ")");
  }
  FindProblems(loaded, facts, report.problems);
  return report;
}

int RunConfigurationCheck(platform::Registry& registry, std::FILE* out) {
  const CheckReport report = CheckConfiguration(registry, CheckFacts::System());
  const std::string text = report.Text();
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  return report.ExitStatus();
}

}  // namespace qov::service
