// A user program for program control to keep running: it records who started
// it, on which window station and desktop, and the environment it got
// (USERPROFILE, TEMP, QOV_USER_MARK) in C:\qov_test_program.txt, one line per
// start, and then sleeps until it is killed.
#include <cstdio>
#include <string>

#include "platform/win32.h"

namespace {

std::string Variable(const char* name) {
  char value[1024];
  const DWORD n = ::GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string("-");
}

std::string ObjectName(HANDLE object) {
  char name[256];
  DWORD needed = 0;
  return object && ::GetUserObjectInformationA(object, UOI_NAME, name, sizeof name, &needed) ? std::string(name)
                                                                                              : std::string("-");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char user[256] = "?";
  DWORD size = sizeof user;
  ::GetUserNameA(user, &size);
  DWORD session = 0;
  ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
  if (FILE* f = std::fopen("C:\\qov_test_program.txt", "ab")) {
    std::fprintf(f, "started pid=%lu user=%s session=%lu winsta=%s desktop=%s USERPROFILE=%s TEMP=%s QOV_USER_MARK=%s\r\n",
                 ::GetCurrentProcessId(), user, session, ObjectName(::GetProcessWindowStation()).c_str(),
                 ObjectName(::GetThreadDesktop(::GetCurrentThreadId())).c_str(), Variable("USERPROFILE").c_str(),
                 Variable("TEMP").c_str(), Variable("QOV_USER_MARK").c_str());
    std::fclose(f);
  }
  for (;;) ::Sleep(60000);
}
