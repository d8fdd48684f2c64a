// Where every component writes its event lines.
#pragma once

#include <string_view>

namespace qov::config {

class Log {
 public:
  virtual ~Log() = default;
  // Appends one line: local timestamp, " - ", `message`. Callable from any thread.
  virtual void Write(std::string_view message) = 0;
};

}  // namespace qov::config
