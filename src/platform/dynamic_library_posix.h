// The pieces every optional library's loader shares: the dlopen handle and
// symbol lookup with the system loader's own words for what went wrong.
#pragma once

#include <dlfcn.h>

#include <memory>
#include <string>

namespace qov::platform {

struct DlClose {
  void operator()(void* handle) const { ::dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, DlClose>;

// `soname` opened with every symbol bound now and none shared with later loads.
inline LibraryHandle OpenLibrary(const char* soname) { return LibraryHandle(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)); }

// What the last failed dlopen or dlsym on this thread said.
inline std::string LastDlError() {
  const char* text = ::dlerror();
  return text ? text : "unknown error";
}

// Points `function` at the symbol `name`; false (LastDlError() saying why) when it is missing.
template <class Function>
bool ResolveSymbol(void* library, const char* name, Function& function) {
  ::dlerror();
  void* symbol = ::dlsym(library, name);
  if (!symbol) return false;
  function = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace qov::platform
