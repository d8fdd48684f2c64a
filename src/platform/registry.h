// Keys and values under HKEY_LOCAL_MACHINE. Paths are written as the Windows
// registry writes them, with or without a leading backslash.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qov::platform {

struct RegValue {
  enum class Type { Dword, String, Other };
  Type type = Type::Other;
  std::uint32_t dword = 0;
  std::string text;  // REG_SZ and REG_EXPAND_SZ, unexpanded, up to the first NUL
};

class RegKey {
 public:
  virtual ~RegKey() = default;
  virtual bool ValueExists(const std::string& name) = 0;
  virtual std::optional<RegValue> Read(const std::string& name) = 0;
  // Value names in the registry's enumeration order.
  virtual std::vector<std::string> ValueNames() = 0;
  virtual bool WriteString(const std::string& name, const std::string& value) = 0;
  virtual bool WriteDword(const std::string& name, std::uint32_t value) = 0;
  // Puts the key's values on the disk now, rather than when the system next
  // writes its registry out (a reset may come first). A key kept only in
  // memory has nothing to put anywhere.
  virtual bool Flush() { return true; }
};

class Registry {
 public:
  virtual ~Registry() = default;
  virtual bool KeyExists(const std::string& path) = 0;
  // Opens with full access; null when the key is missing (or, with `create`,
  // when it cannot be created).
  virtual std::unique_ptr<RegKey> Open(const std::string& path, bool create) = 0;
  // Deletes the key and everything below it; a missing key is no error.
  virtual void DeleteTree(const std::string& path) = 0;
};

// HKEY_LOCAL_MACHINE on Windows; elsewhere a process-local, initially empty registry.
Registry& SystemRegistry();

}  // namespace qov::platform
