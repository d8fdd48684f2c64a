// The Linux daemon's state: one "name=value" line per value in a small file,
// rewritten whole through a temporary file that is synced, renamed over the
// old one, and made lasting by syncing the folder, so a reset right after a
// write finds the new file, and a reset in its middle the old one, never
// half of one. The file is never opened through a symbolic link, and the
// temporary gets a name no one can guess and plant a link at.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "platform/file.h"
#include "platform/posix_fd.h"
#include "platform/state_store.h"

namespace qov::platform {
namespace {

constexpr const char* kStateDir = "/var/lib/qov_lumo";

std::string ErrnoText(const std::string& what, int error) {
  return what + ": " + std::error_code(error, std::generic_category()).message();
}

// "<dir>/.state-<16 random hex digits>".
std::string UnguessableTempPath(const std::string& dir) {
  unsigned char bytes[8] = {};
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string name = dir + "/.state-";
  for (const unsigned char b : bytes) {
    name += kHex[b >> 4];
    name += kHex[b & 15];
  }
  return name;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

class FileStore final : public StateStore {
 public:
  explicit FileStore(std::string dir) : dir_(std::move(dir)), path_(dir_ + "/state"), status_path_(dir_ + "/status") {}

  // The file "status" beside the state, readable by all: an operator's
  // -STATUS and monitoring plugins need no root.
  std::optional<std::string> PublishStatus(const std::string& text) override {
    std::error_code ignored;
    std::filesystem::create_directories(dir_, ignored);
    // Rewritten at every change and remade at every start: not worth a disk flush.
    return ReplaceFileContents(status_path_, text, kPublicFileMode, FileSync::kCached);
  }
  std::optional<std::string> ReadStatus() override {
    UniqueFd fd(::open(status_path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return std::nullopt;
    return ReadAll(fd.get());
  }

  std::optional<std::string> Get(const std::string& name) override {
    std::lock_guard lock(mutex_);
    const auto values = Load();
    const auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }

  using StateStore::Set;
  bool Set(const std::string& name, const std::string& value, std::string* why) override {
    std::string failure;
    const bool stored = Store(name, value, failure);
    if (!stored && why) *why = failure;
    return stored;
  }

 private:
  bool Store(const std::string& name, const std::string& value, std::string& why) {
    if (name.find_first_of("=\n") != std::string::npos || value.find('\n') != std::string::npos) {
      why = "a name or value that breaks the line format";
      return false;
    }
    std::lock_guard lock(mutex_);
    auto values = Load();
    values[name] = value;
    std::string text;
    for (const auto& [n, v] : values) text += n + "=" + v + "\n";
    std::error_code ignored;
    std::filesystem::create_directories(dir_, ignored);

    std::string tmp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 8 && !fd; ++attempt) {
      tmp = UnguessableTempPath(dir_);
      fd.reset(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (!fd && errno != EEXIST) break;
    }
    if (!fd) {
      why = ErrnoText("cannot create a temporary file in " + dir_, errno);
      return false;
    }
    // The mode asked for at the create is cut by the umask; this one is not.
    std::string failed;
    if (::fchmod(fd.get(), 0600) != 0) {
      failed = ErrnoText("cannot set the mode of " + tmp, errno);
    } else if (!WriteAll(fd.get(), text)) {
      failed = ErrnoText("cannot write " + tmp, errno);
    } else if (::fsync(fd.get()) != 0) {
      failed = ErrnoText("cannot sync " + tmp, errno);
    }
    fd.reset();
    if (failed.empty() && std::rename(tmp.c_str(), path_.c_str()) != 0) {
      failed = ErrnoText("cannot rename " + tmp + " to " + path_, errno);
    }
    if (!failed.empty()) {
      why = failed;
      ::unlink(tmp.c_str());
      return false;
    }
    // The rename lasts only once the folder that names the file is synced.
    UniqueFd folder(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder || ::fsync(folder.get()) != 0) {
      why = ErrnoText("cannot sync the folder " + dir_, errno);
      return false;
    }
    return true;
  }

  std::map<std::string, std::string> Load() const {
    std::map<std::string, std::string> values;
    UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return values;
    const std::string text = ReadAll(fd.get());
    std::size_t from = 0;
    while (from < text.size()) {
      const std::size_t end = std::min(text.find('\n', from), text.size());
      const std::string line = text.substr(from, end - from);
      const std::size_t eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
      from = end + 1;
    }
    return values;
  }

  std::mutex mutex_;
  std::string dir_;
  std::string path_;
  std::string status_path_;
};

}  // namespace

std::unique_ptr<StateStore> FileStateStore(std::string dir) { return std::make_unique<FileStore>(std::move(dir)); }

// QOV_STATE_DIR moves the file (tests, staging).
std::string SystemStateFolder() {
  const char* dir = std::getenv("QOV_STATE_DIR");
  return std::string(dir && *dir ? dir : kStateDir);
}

StateStore& SystemStateStore() {
  static FileStore store(SystemStateFolder());
  return store;
}

}  // namespace qov::platform
