#include "platform/curl_library_posix.h"

#include <dlfcn.h>

#include <memory>

namespace qov::platform {
namespace {

struct DlClose {
  void operator()(void* handle) const { ::dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, DlClose>;

std::string LastDlError() {
  const char* text = ::dlerror();
  return text ? text : "unknown error";
}

// Points `function` at the symbol `name`; false (dlerror() saying why) when it is missing.
template <class Function>
bool Resolve(void* library, const char* name, Function& function) {
  ::dlerror();
  void* symbol = ::dlsym(library, name);
  if (!symbol) return false;
  function = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace

CurlLibrary::CurlLibrary(const char* soname) {
  const std::string unavailable = "HTTP library not available: ";
  LibraryHandle library(::dlopen(soname, RTLD_NOW | RTLD_LOCAL));
  if (!library) {
    error_ = unavailable + LastDlError();
    return;
  }
  CurlFunctions& f = functions_;
  const bool resolved = Resolve(library.get(), "curl_global_init", f.global_init) &&
                        Resolve(library.get(), "curl_easy_init", f.easy_init) &&
                        Resolve(library.get(), "curl_easy_setopt", f.easy_setopt) &&
                        Resolve(library.get(), "curl_easy_perform", f.easy_perform) &&
                        Resolve(library.get(), "curl_easy_getinfo", f.easy_getinfo) &&
                        Resolve(library.get(), "curl_easy_cleanup", f.easy_cleanup);
  if (!resolved) {
    error_ = unavailable + LastDlError();
    return;
  }
  const CURLcode started = f.global_init(CURL_GLOBAL_DEFAULT);
  if (started != CURLE_OK) {
    error_ = unavailable + "curl_global_init failed with code " + std::to_string(started);
    return;
  }
  (void)library.release();  // in use from here on: see the class comment
}

const CurlLibrary& SharedCurlLibrary() {
  // Leaked on purpose (never unloaded); the static's guard makes the load,
  // curl_global_init included, happen once before any use.
  static const CurlLibrary* const shared = new CurlLibrary(kCurlSoname);
  return *shared;
}

}  // namespace qov::platform
