#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/system_facts.h"

namespace qov::platform {

std::string FolderOf(const std::string& file_path) {
  const std::size_t slash = file_path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file_path.substr(0, slash);
}

bool FolderExists(const std::string& folder) {
  struct stat st{};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderWritable(const std::string& folder) { return FolderExists(folder) && ::access(folder.c_str(), W_OK) == 0; }

bool FolderWritableByOthers(const std::string& folder) {
  struct stat st{};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != 0 && st.st_uid != ::geteuid()) return true;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0;
}

bool ProgramOnSearchPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t from = 0;
  while (from <= dirs.size()) {
    const std::size_t to = std::min(dirs.find(':', from), dirs.size());
    const std::string candidate = (to > from ? dirs.substr(from, to - from) : std::string(".")) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    from = to + 1;
  }
  return false;
}

}  // namespace qov::platform
