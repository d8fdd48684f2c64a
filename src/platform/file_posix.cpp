#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/posix_fd.h"

namespace qov::platform {
namespace {

class PosixAppendFile final : public AppendFile {
 public:
  explicit PosixAppendFile(int fd) : fd_(fd) {}

  bool Write(std::string_view data) override {
    while (!data.empty()) {
      const ssize_t n = ::write(fd_.get(), data.data(), data.size());
      if (n <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  bool Flush() override { return ::fdatasync(fd_.get()) == 0; }
  std::int64_t Size() override {
    struct stat st {};
    return ::fstat(fd_.get(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
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

}  // namespace qov::platform
