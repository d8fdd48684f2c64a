#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/file.h"
#include "platform/posix_fd.h"

namespace qov::platform {
namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string ErrnoText(int code) { return std::strerror(code); }

// A new file at `path`, never through a link: O_EXCL fails on anything that
// is there, a dangling link included. The mode is set after the create, so
// the umask cannot narrow or widen it. Invalid (errno set) on failure.
UniqueFd CreateExclusive(const std::string& path, int flags, unsigned mode) {
  UniqueFd fd(::open(path.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd && ::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0) {
    const int err = errno;
    fd.reset();
    ::unlink(path.c_str());
    errno = err;
  }
  return fd;
}

// An existing file opened for appending, or invalid: a symbolic link (ELOOP
// from O_NOFOLLOW), a FIFO or device (O_NONBLOCK keeps a FIFO from blocking
// the open), a file with other names (a hard link planted to a file we must
// not write) and a file another account owns (made beforehand to read or
// rewrite what we log) are refused.
UniqueFd OpenExistingForAppend(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd) return fd;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1 || st.st_uid != ::geteuid()) {
    fd.reset();
    errno = EPERM;
  }
  return fd;  // O_NONBLOCK changes nothing for a plain file
}

class PosixAppendFile final : public AppendFile {
 public:
  explicit PosixAppendFile(UniqueFd fd) : fd_(std::move(fd)) {}

  bool Write(std::string_view data) override {
    const std::int64_t before = Size();
    if (WriteAll(fd_.get(), data)) return true;
    // Should taking the part back fail as well, the file keeps it.
    [[maybe_unused]] const int undone = before >= 0 ? ::ftruncate(fd_.get(), static_cast<off_t>(before)) : -1;
    return false;
  }
  bool Flush() override { return ::fdatasync(fd_.get()) == 0; }
  std::int64_t Size() override {
    struct stat st {};
    return ::fstat(fd_.get(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
  }
  bool Removed() override {
    struct stat st {};
    return ::fstat(fd_.get(), &st) == 0 && st.st_nlink == 0;
  }

 private:
  UniqueFd fd_;
};

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path, unsigned mode) {
  // Created, or else opened as it is; a file removed between the two tries
  // is created on the second round.
  for (int round = 0; round < 2; ++round) {
    if (UniqueFd created = CreateExclusive(path, O_WRONLY | O_APPEND, mode)) {
      return std::make_unique<PosixAppendFile>(std::move(created));
    }
    if (errno != EEXIST) return nullptr;
    if (UniqueFd existing = OpenExistingForAppend(path)) return std::make_unique<PosixAppendFile>(std::move(existing));
    if (errno != ENOENT) return nullptr;
  }
  return nullptr;
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<std::string> ReplaceFileContents(const std::string& path, std::string_view text, unsigned mode,
                                               FileSync sync) {
  std::string temp;
  UniqueFd fd;
  // A name taken already (by chance, or planted) is passed over for another.
  for (int attempt = 0; attempt < 8 && !fd; ++attempt) {
    temp = TemporaryNameFor(path);
    fd = CreateExclusive(temp, O_WRONLY, mode);
    if (!fd && errno != EEXIST) break;
  }
  if (!fd) return ErrnoText(errno);
  // Flushed before the rename, so that a crash cannot leave an empty file
  // under the final name.
  if (!WriteAll(fd.get(), text) || (sync == FileSync::kFlushed && ::fdatasync(fd.get()) != 0)) {
    const int err = errno;
    fd.reset();
    ::unlink(temp.c_str());
    return ErrnoText(err);
  }
  fd.reset();
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return ErrnoText(err);
  }
  return std::nullopt;
}

// errno still tells the cause after a failure, for callers that report a code.
std::optional<std::string> CreateNewFile(const std::string& path, std::string_view text, unsigned mode) {
  UniqueFd fd = CreateExclusive(path, O_WRONLY, mode);
  if (!fd) return ErrnoText(errno);
  if (!WriteAll(fd.get(), text) || ::fdatasync(fd.get()) != 0) {
    const int err = errno ? errno : EIO;
    fd.reset();
    ::unlink(path.c_str());
    errno = err;
    return ErrnoText(err);
  }
  return std::nullopt;
}

}  // namespace qov::platform
