#include "platform/memory_registry.h"

#include "platform/text.h"

namespace qov::platform {

std::string MemoryRegistry::Normalize(const std::string& s) {
  std::string out = AsciiLower(s);
  while (!out.empty() && out.front() == '\\') out.erase(out.begin());
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

MemoryRegistry::Key* MemoryRegistry::Find(const std::string& path) {
  auto it = keys_.find(Normalize(path));
  return it == keys_.end() ? nullptr : &it->second;
}

MemoryRegistry::Key& MemoryRegistry::Make(const std::string& path) {
  // Creating a key creates its parents, as RegCreateKeyEx does.
  const std::string norm = Normalize(path);
  for (std::size_t pos = norm.find('\\'); pos != std::string::npos; pos = norm.find('\\', pos + 1)) {
    keys_[norm.substr(0, pos)];
  }
  return keys_[norm];
}

class MemoryRegKey final : public RegKey {
 public:
  MemoryRegKey(MemoryRegistry& reg, std::string path) : reg_(reg), path_(std::move(path)) {}

  bool ValueExists(const std::string& name) override { return Read(name).has_value(); }

  std::optional<RegValue> Read(const std::string& name) override {
    std::lock_guard lock(reg_.mutex_);
    auto* key = reg_.Find(path_);
    if (!key) return std::nullopt;
    for (auto& [n, v] : key->values) {
      if (MemoryRegistry::Normalize(n) == MemoryRegistry::Normalize(name)) return v;
    }
    return std::nullopt;
  }

  std::vector<std::string> ValueNames() override {
    std::lock_guard lock(reg_.mutex_);
    std::vector<std::string> names;
    if (auto* key = reg_.Find(path_)) {
      for (auto& [n, v] : key->values) names.push_back(n);
    }
    return names;
  }

  bool WriteString(const std::string& name, const std::string& value) override {
    RegValue v;
    v.type = RegValue::Type::String;
    v.text = value;
    return Write(name, v);
  }

  bool WriteDword(const std::string& name, std::uint32_t value) override {
    RegValue v;
    v.type = RegValue::Type::Dword;
    v.dword = value;
    return Write(name, v);
  }

 private:
  bool Write(const std::string& name, const RegValue& v) {
    std::lock_guard lock(reg_.mutex_);
    auto* key = reg_.Find(path_);
    if (!key) return false;
    for (auto& [n, old] : key->values) {
      if (MemoryRegistry::Normalize(n) == MemoryRegistry::Normalize(name)) {
        old = v;
        return true;
      }
    }
    key->values.emplace_back(name, v);
    return true;
  }

  MemoryRegistry& reg_;
  std::string path_;
};

bool MemoryRegistry::KeyExists(const std::string& path) {
  std::lock_guard lock(mutex_);
  return Find(path) != nullptr;
}

std::unique_ptr<RegKey> MemoryRegistry::Open(const std::string& path, bool create) {
  {
    std::lock_guard lock(mutex_);
    if (create) {
      Make(path);
    } else if (!Find(path)) {
      return nullptr;
    }
  }
  return std::make_unique<MemoryRegKey>(*this, path);
}

void MemoryRegistry::DeleteTree(const std::string& path) {
  std::lock_guard lock(mutex_);
  const std::string norm = Normalize(path);
  for (auto it = keys_.begin(); it != keys_.end();) {
    if (it->first == norm || it->first.starts_with(norm + "\\")) {
      it = keys_.erase(it);
    } else {
      ++it;
    }
  }
}

void MemoryRegistry::SetDword(const std::string& path, const std::string& name, std::uint32_t v) {
  Open(path, true)->WriteDword(name, v);
}

void MemoryRegistry::SetString(const std::string& path, const std::string& name, const std::string& v) {
  Open(path, true)->WriteString(name, v);
}

void MemoryRegistry::SetBinary(const std::string& path, const std::string& name) { Set(path, name, RegValue{}); }

void MemoryRegistry::Set(const std::string& path, const std::string& name, const RegValue& value) {
  std::lock_guard lock(mutex_);
  Key* key = Find(path);
  if (!key) key = &Make(path);
  const std::string norm = Normalize(name);
  for (auto& [n, old] : key->values) {
    if (Normalize(n) == norm) {
      old = value;
      return;
    }
  }
  key->values.emplace_back(name, value);
}

void MemoryRegistry::DeleteValue(const std::string& path, const std::string& name) {
  std::lock_guard lock(mutex_);
  Key* key = Find(path);
  if (!key) return;
  const std::string norm = Normalize(name);
  std::erase_if(key->values, [&](const auto& entry) { return Normalize(entry.first) == norm; });
}

void MemoryRegistry::Swap(MemoryRegistry& other) {
  if (this == &other) return;
  std::scoped_lock lock(mutex_, other.mutex_);
  keys_.swap(other.keys_);
}

std::optional<RegValue> MemoryRegistry::Get(const std::string& path, const std::string& name) {
  auto key = Open(path, false);
  return key ? key->Read(name) : std::nullopt;
}

}  // namespace qov::platform
