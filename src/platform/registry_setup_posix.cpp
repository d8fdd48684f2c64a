#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry_posix.h"
#include "platform/registry_setup.h"

namespace qov::platform {
namespace {

bool Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::fflush(stderr);
  return false;
}

}  // namespace

bool PrepareSystemRegistry(int& argc, char** argv) {
  std::optional<std::string> named;
  int kept = argc > 0 ? 1 : 0;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) != "--config") {
      argv[kept++] = argv[i];
      continue;
    }
    if (named) return Fail("--config given more than once");
    if (i + 1 >= argc) return Fail("--config needs a file name");
    named = argv[++i];
  }
  // argv keeps its terminating null pointer, as main's own argv has.
  for (int i = kept; i < argc; ++i) argv[i] = nullptr;
  argc = kept;

  const auto error = named ? LoadSystemRegistryFile(*named, MissingFile::kError)
                           : LoadSystemRegistryFile(kDefaultConfigFile, MissingFile::kAllDefaults);
  return error ? Fail(*error) : true;
}

}  // namespace qov::platform
