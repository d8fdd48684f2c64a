// Plain files for the log: an append-only writer and the move that rotation needs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qov::platform {

// A file opened for writing at its end. Other programs may read it meanwhile
// but not write it.
class AppendFile {
 public:
  // Opens `path` for appending, creating it empty when it does not exist.
  // Null when it cannot be opened.
  static std::unique_ptr<AppendFile> Open(const std::string& path);
  virtual ~AppendFile() = default;

  virtual bool Write(std::string_view data) = 0;
  // Pushes what was written to the disk.
  virtual bool Flush() = 0;
  // Current length in bytes; -1 when it cannot be told.
  virtual std::int64_t Size() = 0;
};

// Moves `from` to `to` in one step, replacing an existing `to`
// (MoveFileExA with MOVEFILE_REPLACE_EXISTING, rename on POSIX). When it
// fails, both files are as they were.
bool MoveFileReplacing(const std::string& from, const std::string& to);

}  // namespace qov::platform
