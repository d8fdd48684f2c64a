// Makes SystemRegistry() ready before the program's run. Called first thing
// in main, before any other thread exists.
//
// Windows: the system registry is the real one; nothing to do.
// POSIX: reads the configuration file (registry_posix.h): the FILE of a
// "--config FILE" pair, which is taken out of argc/argv so the rest of the
// program never sees it, or else kDefaultConfigFile when that exists.
//
// False after a failure (a file that cannot be read or parsed, a named file
// that does not exist, "--config" without a file or given twice), whose
// reason has been written to stderr; the program then ends with exit code 1.
#pragma once

namespace qov::platform {

bool PrepareSystemRegistry(int& argc, char** argv);

}  // namespace qov::platform
