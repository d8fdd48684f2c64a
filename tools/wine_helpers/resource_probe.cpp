// Reads an exe's resources the way Event Viewer and the file's properties do:
//   qov_resource_probe <exe> <event id> <insertion string>
// prints "message: <text>" (the message table's text for the ID with the one
// insertion string) and "<name>: <value>" for the version strings. Exit code 1
// when the message or the version resource is missing.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

bool PrintVersionStrings(const char* exe) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(exe, &ignored);
  if (size == 0) return false;
  std::vector<char> info(size);
  if (!::GetFileVersionInfoA(exe, 0, size, info.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_len = 0;
  if (::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixed_len) && fixed) {
    std::printf("fixed file version: %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  }
  for (const char* name : {"ProductName", "FileDescription", "FileVersion", "CompanyName"}) {
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    char* value = nullptr;
    UINT len = 0;
    if (::VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &len) && value) {
      std::printf("%s: %s\n", name, value);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: qov_resource_probe <exe> <event id> <insertion string>\n");
    return 2;
  }
  bool ok = true;
  HMODULE module = ::LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) {
    std::printf("cannot load %s: %lu\n", argv[1], ::GetLastError());
    return 1;
  }
  DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(argv[3])};
  char* text = nullptr;
  const DWORD id = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 0));
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), reinterpret_cast<LPSTR>(&text), 0, reinterpret_cast<va_list*>(args));
  if (n && text) {
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    std::printf("message: %s\n", message.c_str());
    ::LocalFree(text);
  } else {
    std::printf("no message %lu: error %lu\n", id, ::GetLastError());
    ok = false;
  }
  ::FreeLibrary(module);
  if (!PrintVersionStrings(argv[1])) {
    std::printf("no version resource: error %lu\n", ::GetLastError());
    ok = false;
  }
  return ok ? 0 : 1;
}
