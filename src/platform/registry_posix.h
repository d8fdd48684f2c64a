// What the POSIX backend adds to registry.h. There is no system registry on
// POSIX: SystemRegistry() is an in-memory one that the program fills at its
// start from a REGEDIT4 file, the same format as config/qov_lumo_defaults.reg,
// so one file serves both builds.
#pragma once

#include <cstdint>
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

// Why a configuration file with this owner and mode (st_uid, st_mode) is not
// trusted by a process whose effective user is `euid`, or nothing. The file
// decides which programs the service starts, so, as sshd's StrictModes, only
// root may be able to change it: it must be owned by root (or, for a process
// not running as root, by its own account) and writable by nobody else.
std::optional<std::string> DistrustOfConfigFile(std::uint32_t owner, std::uint32_t mode, std::uint32_t euid);

// Reads and parses the .reg file at `path`. On success `registry` holds
// exactly what the file defines (its former contents are dropped) and nothing
// is returned; otherwise `registry` is left as it was and the result says what
// went wrong: "FILE:LINE: what was wrong", "FILE: refused: why" for a file
// that others could have changed (DistrustOfConfigFile), or "FILE: what was
// wrong" when the file cannot be read.
std::optional<std::string> LoadRegistryFile(const std::string& path, MemoryRegistry& registry,
                                            MissingFile if_missing);

// LoadRegistryFile into the registry that SystemRegistry() returns. Called once
// at program start, before any thread reads that registry.
std::optional<std::string> LoadSystemRegistryFile(const std::string& path,
                                                  MissingFile if_missing = MissingFile::kAllDefaults);

}  // namespace qov::platform
