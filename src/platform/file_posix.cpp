#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

class PosixAppendFile final : public AppendFile {
 public:
  explicit PosixAppendFile(int fd) : fd_(fd) {}

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

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixAppendFile>(fd);
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<std::string> ReplaceFileContents(const std::string& path, std::string_view text) {
  const std::string temp = path + ".tmp";
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return std::string(std::strerror(errno));
  // Flushed before the rename, so that a crash cannot leave an empty file
  // under the final name.
  if (!WriteAll(fd.get(), text) || ::fdatasync(fd.get()) != 0) {
    const int err = errno;
    fd.reset();
    ::unlink(temp.c_str());
    return std::string(std::strerror(err));
  }
  fd.reset();
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return std::string(std::strerror(err));
  }
  return std::nullopt;
}

}  // namespace qov::platform
