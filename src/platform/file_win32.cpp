#include "platform/file.h"
#include "platform/win32_handle.h"

#include <string>

namespace qov::platform {
namespace {

class Win32AppendFile final : public AppendFile {
 public:
  explicit Win32AppendFile(HANDLE h) : file_(h) {}

  bool Write(std::string_view data) override {
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(file_.get(), LARGE_INTEGER{}, &end, FILE_END)) return false;
    DWORD written = 0;
    if (::WriteFile(file_.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
        written == data.size()) {
      return true;
    }
    // The part that fitted is taken back.
    if (::SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN)) ::SetEndOfFile(file_.get());
    return false;
  }
  bool Flush() override { return ::FlushFileBuffers(file_.get()) != 0; }
  std::int64_t Size() override {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(file_.get(), &size) ? size.QuadPart : -1;
  }
  bool Removed() override { return false; }

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

std::optional<std::string> ReplaceFileContents(const std::string& path, std::string_view text) {
  const std::string temp = path + ".tmp";
  const auto failure = [&temp](DWORD code) {
    ::DeleteFileA(temp.c_str());
    return std::optional<std::string>("error " + std::to_string(code));
  };
  {
    UniqueFileHandle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return "error " + std::to_string(::GetLastError());
    DWORD written = 0;
    if (!::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !::FlushFileBuffers(file.get())) {
      const DWORD code = ::GetLastError();
      file.reset();
      return failure(code);
    }
  }
  // A reader that holds the old file without sharing deletion (a collector
  // in the middle of its read) makes the replace fail for a moment.
  constexpr int kMoveAttempts = 3;
  constexpr DWORD kMoveRetryMs = 20;
  DWORD code = 0;
  for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
    if (attempt > 0) ::Sleep(kMoveRetryMs);
    if (::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return std::nullopt;
    }
    code = ::GetLastError();
    if (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) break;
  }
  return failure(code);
}

}  // namespace qov::platform
