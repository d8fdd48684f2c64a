// Owns a hidden window and runs a message loop until it is killed, so that the
// Wine session (its services and explorer.exe) stays up. Once its window
// exists (the session's desktop is up) it says "keepalive ready" on stderr.
#include <cstdio>

#include "platform/win32.h"

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = "qov_keepalive";
  ::RegisterClassA(&wc);
  ::CreateWindowA("qov_keepalive", "qov keepalive", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, instance,
                  nullptr);
  std::fputs("keepalive ready\n", stderr);
  std::fflush(stderr);
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return 0;
}
