// RAII owners for Win32 handles, so every handle is closed on every path.
#pragma once

#include <utility>

#include "platform/win32.h"

namespace qov::platform {

// Owns a handle closed by `Close`; `Invalid` is the value that means "none".
template <typename H, auto Close, H Invalid>
class UniqueWin32 {
 public:
  UniqueWin32() = default;
  explicit UniqueWin32(H h) : h_(h) {}
  UniqueWin32(const UniqueWin32&) = delete;
  UniqueWin32& operator=(const UniqueWin32&) = delete;
  UniqueWin32(UniqueWin32&& o) noexcept : h_(std::exchange(o.h_, Invalid)) {}
  UniqueWin32& operator=(UniqueWin32&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, Invalid));
    return *this;
  }
  ~UniqueWin32() { reset(); }

  H get() const { return h_; }
  explicit operator bool() const { return h_ != Invalid; }
  H release() { return std::exchange(h_, Invalid); }
  void reset(H h = Invalid) {
    if (h_ != Invalid) Close(h_);
    h_ = h;
  }
  // For out-parameters of Win32 calls.
  H* put() {
    reset();
    return &h_;
  }

 private:
  H h_ = Invalid;
};

inline void CloseKernelHandle(HANDLE h) { ::CloseHandle(h); }
inline void CloseRegKey(HKEY k) { ::RegCloseKey(k); }

// Most kernel objects use null for "none"; files, ports and snapshots use
// INVALID_HANDLE_VALUE, which is not a constant expression, so they get their own type.
using UniqueHandle = UniqueWin32<HANDLE, CloseKernelHandle, nullptr>;
using UniqueRegKey = UniqueWin32<HKEY, CloseRegKey, nullptr>;

class UniqueFileHandle {
 public:
  UniqueFileHandle() = default;
  explicit UniqueFileHandle(HANDLE h) : h_(h) {}
  UniqueFileHandle(const UniqueFileHandle&) = delete;
  UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
  UniqueFileHandle(UniqueFileHandle&& o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
  UniqueFileHandle& operator=(UniqueFileHandle&& o) noexcept {
    if (this != &o) reset(std::exchange(o.h_, INVALID_HANDLE_VALUE));
    return *this;
  }
  ~UniqueFileHandle() { reset(); }

  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace qov::platform
