// A registry in memory that notes each value write and each key flush, in
// order ("write NAME", "flush"), and whose flushes fail while
// `flushes_fail` is set.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/memory_registry.h"

namespace qov::test {

class JournaledRegistry final : public platform::Registry {
 public:
  platform::MemoryRegistry memory;
  std::vector<std::string> journal;
  bool flushes_fail = false;

  bool KeyExists(const std::string& path) override { return memory.KeyExists(path); }
  std::unique_ptr<platform::RegKey> Open(const std::string& path, bool create) override {
    auto key = memory.Open(path, create);
    if (!key) return nullptr;
    return std::make_unique<Key>(*this, std::move(key));
  }
  void DeleteTree(const std::string& path) override { memory.DeleteTree(path); }

 private:
  class Key final : public platform::RegKey {
   public:
    Key(JournaledRegistry& owner, std::unique_ptr<platform::RegKey> inner) : owner_(owner), inner_(std::move(inner)) {}
    bool ValueExists(const std::string& name) override { return inner_->ValueExists(name); }
    std::optional<platform::RegValue> Read(const std::string& name) override { return inner_->Read(name); }
    std::vector<std::string> ValueNames() override { return inner_->ValueNames(); }
    bool WriteString(const std::string& name, const std::string& value) override {
      owner_.journal.push_back("write " + name);
      return inner_->WriteString(name, value);
    }
    bool WriteDword(const std::string& name, std::uint32_t value) override {
      owner_.journal.push_back("write " + name);
      return inner_->WriteDword(name, value);
    }
    bool Flush() override {
      owner_.journal.push_back("flush");
      return !owner_.flushes_fail && inner_->Flush();
    }

   private:
    JournaledRegistry& owner_;
    std::unique_ptr<platform::RegKey> inner_;
  };
};

}  // namespace qov::test
