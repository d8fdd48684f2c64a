// A registry kept in memory: the POSIX backend and the tests' fake.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace qov::platform {

class MemoryRegistry final : public Registry {
 public:
  bool KeyExists(const std::string& path) override;
  std::unique_ptr<RegKey> Open(const std::string& path, bool create) override;
  void DeleteTree(const std::string& path) override;

  // Test set-up and inspection.
  void SetDword(const std::string& path, const std::string& name, std::uint32_t v);
  void SetString(const std::string& path, const std::string& name, const std::string& v);
  void SetBinary(const std::string& path, const std::string& name);
  // Stores `value` under `name`, replacing a value of that name; creates the key.
  void Set(const std::string& path, const std::string& name, const RegValue& value);
  // A missing key or value is no error.
  void DeleteValue(const std::string& path, const std::string& name);
  // Exchanges the keys and values of two registries.
  void Swap(MemoryRegistry& other);
  std::optional<RegValue> Get(const std::string& path, const std::string& name);
  // Value names are compared without regard to case, as Windows does.
  static std::string Normalize(const std::string& s);

 private:
  friend class MemoryRegKey;
  struct Key {
    std::vector<std::pair<std::string, RegValue>> values;  // insertion order
  };
  Key* Find(const std::string& path);
  Key& Make(const std::string& path);

  std::mutex mutex_;
  std::map<std::string, Key> keys_;  // by normalised path
};

}  // namespace qov::platform
