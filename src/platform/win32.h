// The one place that includes <windows.h>. mingw-w64 predefines _WIN32_WINNT
// low, so it is fixed here before any system header sees it.
#pragma once

#ifdef _WIN32_WINNT
#undef _WIN32_WINNT
#endif
#define _WIN32_WINNT 0x0601  // Windows 7: GetTickCount64, WTS, IcmpSendEcho
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <winsock2.h>
#include <windows.h>
