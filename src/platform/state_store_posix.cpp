// The Linux daemon's state: one "name=value" line per value in a small file,
// rewritten whole through a temporary file, so a reset in the middle of a
// write leaves the old or the new file, never half of one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/posix_fd.h"
#include "platform/state_store.h"

namespace qov::platform {
namespace {

constexpr const char* kStateDir = "/var/lib/qov_lumo";

class FileStore final : public StateStore {
 public:
  explicit FileStore(std::string dir) : dir_(std::move(dir)), path_(dir_ + "/state") {}

  std::optional<std::string> Get(const std::string& name) override {
    std::lock_guard lock(mutex_);
    const auto values = Load();
    const auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }

  bool Set(const std::string& name, const std::string& value) override {
    if (name.find_first_of("=\n") != std::string::npos || value.find('\n') != std::string::npos) return false;
    std::lock_guard lock(mutex_);
    auto values = Load();
    values[name] = value;
    std::string text;
    for (const auto& [n, v] : values) text += n + "=" + v + "\n";
    std::error_code ignored;
    std::filesystem::create_directories(dir_, ignored);
    const std::string tmp = path_ + ".tmp";
    UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd) return false;
    const bool written = ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                         ::fsync(fd.get()) == 0;
    fd.reset();
    if (!written || std::rename(tmp.c_str(), path_.c_str()) != 0) {
      ::unlink(tmp.c_str());
      return false;
    }
    return true;
  }

 private:
  std::map<std::string, std::string> Load() const {
    std::map<std::string, std::string> values;
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);) {
      const std::size_t eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
  }

  std::mutex mutex_;
  std::string dir_;
  std::string path_;
};

}  // namespace

std::unique_ptr<StateStore> FileStateStore(std::string dir) { return std::make_unique<FileStore>(std::move(dir)); }

// QOV_STATE_DIR moves the file (tests, staging).
StateStore& SystemStateStore() {
  static FileStore store([] {
    const char* dir = std::getenv("QOV_STATE_DIR");
    return std::string(dir && *dir ? dir : kStateDir);
  }());
  return store;
}

}  // namespace qov::platform
