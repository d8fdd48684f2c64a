// What a configuration check asks of the system, without changing it.
#pragma once

#include <string>

namespace qov::platform {

// The folder a file path lies in ("" when the path names no folder).
std::string FolderOf(const std::string& file_path);
// True when `folder` exists and this process may create files in it.
bool FolderWritable(const std::string& folder);
bool FolderExists(const std::string& folder);
// True when a program of that name is found as a command line finds it
// (the system's search path; ".exe" added on Windows).
bool ProgramOnSearchPath(const std::string& program);

}  // namespace qov::platform
