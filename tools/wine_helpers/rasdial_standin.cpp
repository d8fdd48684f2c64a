// Stand-in for "rasdial": appends its command line to C:\rasdial_calls.txt and
// exits with the code found in C:\rasdial_exit_code.txt (0 when missing).
#include <cstdio>

#include "platform/win32.h"

int main() {
  if (FILE* f = std::fopen("C:\\rasdial_calls.txt", "ab")) {
    std::fprintf(f, "%s\r\n", ::GetCommandLineA());
    std::fclose(f);
  }
  int code = 0;
  if (FILE* f = std::fopen("C:\\rasdial_exit_code.txt", "rb")) {
    if (std::fscanf(f, "%d", &code) != 1) code = 0;
    std::fclose(f);
  }
  return code;
}
