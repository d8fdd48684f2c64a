// What the POSIX backend adds to registry.h. There is no system registry on
// POSIX: SystemRegistry() is an in-memory one that the program fills at its
// start from a REGEDIT4 file, the same format as config/qov_lumo_defaults.reg,
// so one file serves both builds.
#pragma once

#include <optional>
#include <string>

#include "platform/memory_registry.h"

namespace qov::platform {

inline constexpr const char* kDefaultConfigFile = "/etc/qov_lumo/qov_lumo.reg";

// What a file that does not exist means.
enum class MissingFile {
  kAllDefaults,  // nothing to load: every configuration value keeps its default
  kError,        // the file was named explicitly, so its absence is a failure
};

// Reads and parses the .reg file at `path`. On success `registry` holds
// exactly what the file defines (its former contents are dropped) and nothing
// is returned; otherwise `registry` is left as it was and the result says what
// went wrong: "FILE:LINE: what was wrong", or "FILE: what was wrong" when the
// file cannot be read.
std::optional<std::string> LoadRegistryFile(const std::string& path, MemoryRegistry& registry,
                                            MissingFile if_missing);

// LoadRegistryFile into the registry that SystemRegistry() returns. Called once
// at program start, before any thread reads that registry.
std::optional<std::string> LoadSystemRegistryFile(const std::string& path,
                                                  MissingFile if_missing = MissingFile::kAllDefaults);

}  // namespace qov::platform
