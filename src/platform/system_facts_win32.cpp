#include "platform/system_facts.h"
#include "platform/win32.h"

namespace qov::platform {

std::string FolderOf(const std::string& file_path) {
  const std::size_t sep = file_path.find_last_of("\\/");
  if (sep == std::string::npos) return ".";
  if (sep == 2 && file_path[1] == ':') return file_path.substr(0, 3);  // "c:\"
  return file_path.substr(0, sep);
}

bool FolderExists(const std::string& folder) {
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Without creating anything the access can only be judged by the folder's
// attributes; the service's account (LocalSystem) may write most folders.
bool FolderWritable(const std::string& folder) {
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_READONLY);
}

// Not checked: a real answer needs the folder's access list read and each
// entry weighed against the service's account, which this check leaves out.
bool FolderWritableByOthers(const std::string&) { return false; }

bool ProgramOnSearchPath(const std::string& program) {
  char found[MAX_PATH] = {};
  return ::SearchPathA(nullptr, program.c_str(), ".exe", MAX_PATH, found, nullptr) != 0;
}

}  // namespace qov::platform
