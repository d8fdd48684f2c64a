// libcurl, loaded when the first HTTP probe needs it rather than linked:
// its TLS, Kerberos and LDAP stacks are most of the daemon's memory, and a
// configuration without HTTP targets should map none of them.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>

#include "platform/probe_outcome.h"

namespace qov::platform {

// The runtime name of the libcurl the headers describe.
inline constexpr const char* kCurlSoname = "libcurl.so.4";

// The libcurl functions the HTTP probe calls.
struct CurlFunctions {
  decltype(&::curl_global_init) global_init = nullptr;
  decltype(&::curl_easy_init) easy_init = nullptr;
  decltype(&::curl_easy_setopt) easy_setopt = nullptr;
  decltype(&::curl_easy_perform) easy_perform = nullptr;
  decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
};

// One load of a libcurl: the library opened (RTLD_NOW | RTLD_LOCAL), its
// functions resolved and curl_global_init run, or the reason it could not be.
// A library that loaded stays loaded for the life of the process: a probe
// given up on may still be inside it while the process ends.
class CurlLibrary {
 public:
  explicit CurlLibrary(const char* soname);
  CurlLibrary(const CurlLibrary&) = delete;
  CurlLibrary& operator=(const CurlLibrary&) = delete;

  // The functions, or null when the library is not available.
  const CurlFunctions* Functions() const { return error_.empty() ? &functions_ : nullptr; }
  // "HTTP library not available: <why>", or empty when it is.
  const std::string& Error() const { return error_; }

 private:
  CurlFunctions functions_;
  std::string error_;
};

// The process's libcurl (kCurlSoname), loaded by the first caller; callers
// racing to be first wait for that one load.
const CurlLibrary& SharedCurlLibrary();

// HttpGet (net_probe.h) through `curl`; an unavailable library fails the
// probe as a system error that carries the library's reason.
ProbeOutcome HttpGetThrough(const CurlLibrary& curl, const std::string& url, std::uint32_t timeout_ms);

}  // namespace qov::platform
