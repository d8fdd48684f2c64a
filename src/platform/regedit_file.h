// The text of a .reg file ("REGEDIT4", or "Windows Registry Editor Version
// 5.00" saved as 8-bit text) applied to an in-memory registry. Pure: no file
// or other OS access, so any input can be fed to it directly.
//
// Accepted lines: blank lines and ';' comments; [HKEY_LOCAL_MACHINE\path]
// (or [HKLM\path]) opens and creates a key, [-...] deletes it with all below;
// "name"="text" (escapes \\ and \"), "name"=dword:1 to 8 hex digits,
// "name"=hex:.. and "name"=hex(N):.. with ",\" continuations, "name"=- deletes;
// @ names the default value. CR LF and LF line ends.
//
// hex values get the type Windows reads them as: hex(4) with four bytes is a
// DWORD, hex(1) and hex(2) (REG_SZ, REG_EXPAND_SZ) are text (8-bit in a
// REGEDIT4 file, UTF-16LE turned into UTF-8 in a version 5 file), anything
// else is a value of another type, which the configuration loader reports as
// a wrong type.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/memory_registry.h"

namespace qov::platform {

// Bounds on what a file may hold, so that hostile input costs little memory
// and time. The service's own configuration needs one key and under a hundred
// values.
inline constexpr std::size_t kMaxRegeditFileBytes = std::size_t{16} << 20;
inline constexpr std::size_t kMaxRegeditLineBytes = std::size_t{1} << 20;
inline constexpr int kMaxRegeditKeyLines = 256;
inline constexpr int kMaxRegeditValueLines = 1024;
inline constexpr int kMaxRegeditKeyDepth = 32;
inline constexpr std::size_t kMaxRegeditKeyNameBytes = 255;  // one level, as on Windows

struct RegeditError {
  int line = 0;  // 1-based; 0 when the error is about the file as a whole
  std::string message;
};

// What the lines of a .reg file ask for, one step at a time in file order.
// Each step may refuse: its reason becomes the error of that line, and
// parsing stops there. Paths are relative to HKEY_LOCAL_MACHINE, as below.
class RegeditTarget {
 public:
  virtual ~RegeditTarget() = default;
  virtual std::optional<std::string> CreateKey(const std::string& path) = 0;
  virtual std::optional<std::string> DeleteKey(const std::string& path) = 0;
  virtual std::optional<std::string> SetValue(const std::string& path, const std::string& name,
                                              const RegValue& value) = 0;
  virtual std::optional<std::string> DeleteValue(const std::string& path, const std::string& name) = 0;
};

std::optional<RegeditError> ParseRegedit(std::string_view text, RegeditTarget& target);

// Applies the key and value lines of `text` to `registry`, in file order, and
// stops at the first error. Key paths are stored as "\Software\Vopa\QOV Lumo",
// relative to HKEY_LOCAL_MACHINE. After an error the lines before it have been
// applied; a caller that wants all or nothing parses into a scratch registry.
std::optional<RegeditError> ParseRegedit(std::string_view text, MemoryRegistry& registry);

// "FILE:LINE: message", or "FILE: message" for line 0.
std::string FormatRegeditError(const std::string& file, const RegeditError& error);

}  // namespace qov::platform
