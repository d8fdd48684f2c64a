// A state store kept in memory whose writes fail, with `failure` as the
// reason, while `failure` is set. Each write attempt is noted with what
// `probe` said at that moment.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/state_store.h"

namespace qov::test {

class FailingStateStore final : public platform::StateStore {
 public:
  struct Write {
    std::string name;
    std::string probed;
  };

  std::string failure;
  std::function<std::string()> probe;
  std::vector<Write> writes;

  std::optional<std::string> Get(const std::string& name) override {
    const auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }
  using StateStore::Set;
  bool Set(const std::string& name, const std::string& value, std::string* why) override {
    writes.push_back({name, probe ? probe() : std::string()});
    if (!failure.empty()) {
      if (why) *why = failure;
      return false;
    }
    values_[name] = value;
    return true;
  }

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace qov::test
