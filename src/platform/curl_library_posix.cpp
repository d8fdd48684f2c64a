#include "platform/curl_library_posix.h"

#include "platform/dynamic_library_posix.h"

namespace qov::platform {

CurlLibrary::CurlLibrary(const char* soname) {
  const std::string unavailable = "HTTP library not available: ";
  LibraryHandle library = OpenLibrary(soname);
  if (!library) {
    error_ = unavailable + LastDlError();
    return;
  }
  CurlFunctions& f = functions_;
  const bool resolved = ResolveSymbol(library.get(), "curl_global_init", f.global_init) &&
                        ResolveSymbol(library.get(), "curl_easy_init", f.easy_init) &&
                        ResolveSymbol(library.get(), "curl_easy_setopt", f.easy_setopt) &&
                        ResolveSymbol(library.get(), "curl_easy_perform", f.easy_perform) &&
                        ResolveSymbol(library.get(), "curl_easy_getinfo", f.easy_getinfo) &&
                        ResolveSymbol(library.get(), "curl_easy_cleanup", f.easy_cleanup);
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
