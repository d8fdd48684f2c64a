#include "platform/file.h"
#include "platform/win32_handle.h"

namespace qov::platform {
namespace {

class Win32AppendFile final : public AppendFile {
 public:
  explicit Win32AppendFile(HANDLE h) : file_(h) {}

  bool Write(std::string_view data) override {
    ::SetFilePointer(file_.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    return ::WriteFile(file_.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size();
  }
  bool Flush() override { return ::FlushFileBuffers(file_.get()) != 0; }
  std::int64_t Size() override {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(file_.get(), &size) ? size.QuadPart : -1;
  }

 private:
  UniqueFileHandle file_;
};

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path) {
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32AppendFile>(h);
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace qov::platform
