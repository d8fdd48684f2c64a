// Plain files: the log's append-only writer, the move that rotation needs and
// the whole-file replace that published metrics need.
//
// The service runs as root (LocalSystem on Windows) and writes into folders
// that others may be able to write too, so no file it creates or appends to
// is ever opened through a link planted at its name: a symbolic link (or a
// Windows reparse point) there, or a file that has other hard links, is
// refused like a file that cannot be opened.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qov::platform {

// Permission bits of the files the service creates, set whatever the umask
// (POSIX; on Windows a new file takes its folder's access list).
inline constexpr unsigned kLogFileMode = 0640;     // root reads it; the configuration's addresses show in it
inline constexpr unsigned kPublicFileMode = 0644;  // metrics an exporter reads, systemd units
inline constexpr unsigned kPrivateFileMode = 0600;  // state nobody else needs

// A file opened for writing at its end. Other programs may read it meanwhile
// but not write it.
class AppendFile {
 public:
  // Opens `path` for appending, creating it empty with `mode` when it does
  // not exist (an existing file keeps its mode). Null when it cannot be
  // opened, and when `path` is a link or not a plain file.
  static std::unique_ptr<AppendFile> Open(const std::string& path, unsigned mode = kLogFileMode);
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
// fails, both files are as they were. A link at `to` is replaced itself,
// never followed.
bool MoveFileReplacing(const std::string& from, const std::string& to);

// Replaces the contents of `path` with `text` so that a reader sees either
// the old file or the new one whole, never a part: the text goes to a
// temporary file of an unpredictable name in the same folder
// ("<path>.tmp.XXXXXXXXXXXX", created exclusively with `mode`), is flushed,
// then moved over `path`. Nothing is returned on success; on failure, the
// reason, and no temporary file is left behind.
// kCached leaves the new contents in the system's cache before the move:
// for a record rewritten often and remade at every start, which a crash
// may leave empty.
enum class FileSync { kFlushed, kCached };
std::optional<std::string> ReplaceFileContents(const std::string& path, std::string_view text,
                                               unsigned mode = kPublicFileMode, FileSync sync = FileSync::kFlushed);

// Writes `text` to a new file at `path` with `mode`. Fails (the reason is
// returned) when anything is there already, a link included; a failed
// write leaves no file behind.
std::optional<std::string> CreateNewFile(const std::string& path, std::string_view text, unsigned mode);

// The whole contents of the file at `path`; nothing when it cannot be read.
std::optional<std::string> ReadTextFile(const std::string& path);

// The name a temporary file next to `path` gets: "<path>.tmp." and twelve
// random letters and digits, so that nobody can plant a link at it beforehand.
std::string TemporaryNameFor(const std::string& path);

}  // namespace qov::platform
