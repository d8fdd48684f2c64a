// "-CHECK": reads the configuration exactly as the service would and says,
// for every value, what takes effect and where it came from, then every
// problem it can see with what the service will do about it. It writes
// nothing and needs no installed service.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "config/config_loader.h"
#include "platform/registry.h"

namespace qov::service {

// What the check asks of the system; the real system's by default.
struct CheckFacts {
  std::function<std::vector<std::string>()> serial_ports;
  std::function<bool(const std::string&)> folder_exists;
  std::function<bool(const std::string&)> folder_writable;
  // Accounts other than root may plant or replace files there; unset: not asked.
  std::function<bool(const std::string&)> folder_writable_by_others;
  std::function<bool(const std::string&)> program_found;
  // The folder of the service's state file; empty where the state is no file.
  std::string state_folder;
  static CheckFacts System();
};

struct CheckProblem {
  bool error;  // the service could not do its job (true) or would do it badly
  std::string text;
};

struct CheckReport {
  std::vector<std::string> values;  // "name = value (origin)"
  std::vector<CheckProblem> problems;
  // 0 nothing wrong, 1 warnings only, 2 at least one error.
  int ExitStatus() const;
  std::string Text() const;
};

CheckReport CheckConfiguration(platform::Registry& registry, const CheckFacts& facts);

// The problems of an already loaded configuration (the service's own at start).
std::vector<CheckProblem> FindConfigurationProblems(const config::LoadResult& loaded, const CheckFacts& facts);

// The check run of the program: prints the report to `out`; its exit status.
int RunConfigurationCheck(platform::Registry& registry, std::FILE* out);

}  // namespace qov::service
