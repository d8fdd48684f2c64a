#include <vector>

#include "platform/registry.h"
#include "platform/win32_handle.h"

namespace qov::platform {
namespace {

std::string Relative(const std::string& path) {
  std::size_t start = 0;
  while (start < path.size() && path[start] == '\\') ++start;
  return path.substr(start);
}

class Win32RegKey final : public RegKey {
 public:
  explicit Win32RegKey(HKEY key) : key_(key) {}

  bool ValueExists(const std::string& name) override {
    return ::RegQueryValueExA(key_.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  }

  std::optional<RegValue> Read(const std::string& name) override {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::vector<BYTE> data(size + 1, 0);
    if (::RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    RegValue v;
    // The type decides, never the size: a short string also fits a DWORD buffer.
    if (type == REG_DWORD && size == sizeof(DWORD)) {
      v.type = RegValue::Type::Dword;
      v.dword = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      v.type = RegValue::Type::String;
      const char* text = reinterpret_cast<const char*>(data.data());
      std::size_t len = 0;
      while (len < size && text[len] != '\0') ++len;
      v.text.assign(text, len);
    }
    return v;
  }

  std::vector<std::string> ValueNames() override {
    std::vector<std::string> names;
    DWORD count = 0;
    DWORD max_len = 0;
    if (::RegQueryInfoKeyA(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                           &max_len, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return names;
    }
    std::vector<char> buf(max_len + 2);
    for (DWORD i = 0; i < count; ++i) {
      DWORD len = static_cast<DWORD>(buf.size());
      if (::RegEnumValueA(key_.get(), i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        names.emplace_back(buf.data(), len);
      }
    }
    return names;
  }

  bool WriteString(const std::string& name, const std::string& value) override {
    return ::RegSetValueExA(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  }

  bool WriteDword(const std::string& name, std::uint32_t value) override {
    const DWORD v = value;
    return ::RegSetValueExA(key_.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                            sizeof v) == ERROR_SUCCESS;
  }

  bool Flush() override { return ::RegFlushKey(key_.get()) == ERROR_SUCCESS; }

 private:
  UniqueRegKey key_;
};

// Depth first, subkeys from the highest enumeration index down to 0.
void DeleteKeyRecursive(HKEY parent, const std::string& name) {
  UniqueRegKey key;
  if (::RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
  DWORD subkeys = 0;
  DWORD max_len = 0;
  ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, &max_len, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
  std::vector<char> buf(max_len + 2);
  for (DWORD i = subkeys; i-- > 0;) {
    DWORD len = static_cast<DWORD>(buf.size());
    if (::RegEnumKeyExA(key.get(), i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
      DeleteKeyRecursive(key.get(), std::string(buf.data(), len));
    }
  }
  key.reset();
  ::RegDeleteKeyA(parent, name.c_str());
}

class Win32Registry final : public Registry {
 public:
  bool KeyExists(const std::string& path) override {
    UniqueRegKey key;
    return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, Relative(path).c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
  }

  std::unique_ptr<RegKey> Open(const std::string& path, bool create) override {
    HKEY key = nullptr;
    LONG rc;
    if (create) {
      rc = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, Relative(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr);
    } else {
      rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, Relative(path).c_str(), 0, KEY_ALL_ACCESS, &key);
    }
    if (rc != ERROR_SUCCESS) return nullptr;
    return std::make_unique<Win32RegKey>(key);
  }

  void DeleteTree(const std::string& path) override { DeleteKeyRecursive(HKEY_LOCAL_MACHINE, Relative(path)); }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace qov::platform
