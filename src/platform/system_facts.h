// What a configuration check asks of the system, without changing it.
#pragma once

#include <string>

namespace qov::platform {

// The folder a file path lies in ("" when the path names no folder).
std::string FolderOf(const std::string& file_path);
// True when `folder` exists and this process may create files in it.
bool FolderWritable(const std::string& folder);
bool FolderExists(const std::string& folder);
// True when accounts other than root (and this process's own) may create,
// rename or delete files in `folder`, and so plant a link where the service
// writes: on POSIX a folder owned by another user, or writable by its group
// or by others without the sticky bit. Windows: not checked (always false),
// since judging a folder's access list is left to whoever installs it.
bool FolderWritableByOthers(const std::string& folder);
// True when a program of that name is found as a command line finds it
// (the system's search path; ".exe" added on Windows).
bool ProgramOnSearchPath(const std::string& program);

}  // namespace qov::platform
