// A user program for program control to keep running: it records who started
// it in C:\qov_test_program.txt and then sleeps until it is killed.
#include <cstdio>

#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char user[256] = "?";
  DWORD size = sizeof user;
  ::GetUserNameA(user, &size);
  if (FILE* f = std::fopen("C:\\qov_test_program.txt", "ab")) {
    std::fprintf(f, "started pid=%lu user=%s session=%lu\r\n", ::GetCurrentProcessId(), user,
                 [] {
                   DWORD s = 0;
                   ::ProcessIdToSessionId(::GetCurrentProcessId(), &s);
                   return s;
                 }());
    std::fclose(f);
  }
  for (;;) ::Sleep(60000);
}
