#include "platform/registry_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "platform/posix_fd.h"
#include "platform/regedit_file.h"

namespace qov::platform {
namespace {

MemoryRegistry& TheSystemRegistry() {
  static MemoryRegistry registry;
  return registry;
}

std::string ErrnoText(int code) { return std::system_category().message(code); }

}  // namespace

std::optional<std::string> DistrustOfConfigFile(std::uint32_t owner, std::uint32_t mode, std::uint32_t euid) {
  static constexpr const char* kWhy = "; a configuration that others can change could make this service run any program";
  if (owner != 0 && owner != euid) {
    return "owned by uid " + std::to_string(owner) +
           (euid == 0 ? ", not by root" : ", neither by root nor by this account (uid " + std::to_string(euid) + ")") +
           kWhy;
  }
  if (mode & (S_IWGRP | S_IWOTH)) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
    return std::string("writable by ") + ((mode & S_IWOTH) ? "everyone" : "its group") + " (mode " + octal + ")" +
           kWhy;
  }
  return std::nullopt;
}

// No system registry here: a run starts from an empty one, which means every
// configuration value keeps its default, unless the configuration file fills it.
Registry& SystemRegistry() { return TheSystemRegistry(); }

std::optional<std::string> LoadRegistryFile(const std::string& path, MemoryRegistry& registry,
                                            MissingFile if_missing) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd) {
    const int code = errno;
    if (code == ENOENT && if_missing == MissingFile::kAllDefaults) return std::nullopt;
    return path + ": cannot open: " + ErrnoText(code);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return path + ": cannot read: " + ErrnoText(errno);
  if (auto distrust = DistrustOfConfigFile(st.st_uid, st.st_mode, ::geteuid())) return path + ": refused: " + *distrust;
  if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > kMaxRegeditFileBytes) {
    return FormatRegeditError(path, RegeditError{0, "the file is larger than 16 MiB"});
  }
  // One byte more than the bound, so that the parser sees an oversized file as such.
  std::string text;
  char buffer[65536];
  while (text.size() <= kMaxRegeditFileBytes) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return path + ": cannot read: " + ErrnoText(errno);
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  MemoryRegistry parsed;
  if (auto error = ParseRegedit(text, parsed)) return FormatRegeditError(path, *error);
  registry.Swap(parsed);
  return std::nullopt;
}

std::optional<std::string> LoadSystemRegistryFile(const std::string& path, MissingFile if_missing) {
  return LoadRegistryFile(path, TheSystemRegistry(), if_missing);
}

}  // namespace qov::platform
