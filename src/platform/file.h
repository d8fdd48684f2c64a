// Plain files: the log's append-only writer, the move that rotation needs and
// the whole-file replace that published metrics need.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
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

  // All or nothing: when only a part of `data` fits (a full disk), the
  // part is taken back, so that the next write does not run on from it.
  virtual bool Write(std::string_view data) = 0;
  // Pushes what was written to the disk.
  virtual bool Flush() = 0;
  // Current length in bytes; -1 when it cannot be told.
  virtual std::int64_t Size() = 0;
  // True once the file has been deleted while open (POSIX allows it; our
  // Windows handle does not share deletion, so there it never is).
  virtual bool Removed() = 0;
};

// Moves `from` to `to` in one step, replacing an existing `to`
// (MoveFileExA with MOVEFILE_REPLACE_EXISTING, rename on POSIX). When it
// fails, both files are as they were.
bool MoveFileReplacing(const std::string& from, const std::string& to);

// Replaces the contents of `path` with `text` so that a reader sees either
// the old file or the new one whole, never a part: the text goes to
// "<path>.tmp" in the same folder, is flushed, then moved over `path`.
// Nothing is returned on success; on failure, the reason, and no temporary
// file is left behind.
std::optional<std::string> ReplaceFileContents(const std::string& path, std::string_view text);

}  // namespace qov::platform
