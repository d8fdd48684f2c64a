#include "platform/file.h"
#include "platform/win32_handle.h"

#include <string>
#include <utility>

namespace qov::platform {
namespace {

class Win32AppendFile final : public AppendFile {
 public:
  explicit Win32AppendFile(UniqueFileHandle file) : file_(std::move(file)) {}

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

// False for a reparse point (a symbolic link, a junction) and for a file
// with other hard links: writing it would write what someone else named.
bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks <= 1;
}

// A new file, never opened through anything already at `path`: CREATE_NEW
// fails on any name that exists, a link included.
UniqueFileHandle CreateExclusive(const std::string& path) {
  return UniqueFileHandle(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool WriteAllAndFlush(HANDLE file, std::string_view text, bool flush = true) {
  DWORD written = 0;
  return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size() && (!flush || ::FlushFileBuffers(file));
}

std::string ErrorText(DWORD code) { return "error " + std::to_string(code); }

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path, unsigned /*mode*/) {
  // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link or junction planted
  // at the name itself instead of what it points to; such a file is refused.
  UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || !IsPlainFile(file.get())) return nullptr;
  return std::make_unique<Win32AppendFile>(std::move(file));
}

bool MoveFileReplacing(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::optional<std::string> ReplaceFileContents(const std::string& path, std::string_view text, unsigned /*mode*/,
                                               FileSync sync) {
  const bool flushed = sync == FileSync::kFlushed;
  std::string temp;
  UniqueFileHandle file;
  // A name taken already (by chance, or planted) is passed over for another.
  for (int attempt = 0; attempt < 8 && !file; ++attempt) {
    temp = TemporaryNameFor(path);
    file = CreateExclusive(temp);
    if (!file && ::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  if (!file) return ErrorText(::GetLastError());
  const auto failure = [&temp](DWORD code) {
    ::DeleteFileA(temp.c_str());
    return std::optional<std::string>(ErrorText(code));
  };
  if (!WriteAllAndFlush(file.get(), text, flushed)) {
    const DWORD code = ::GetLastError();
    file.reset();
    return failure(code);
  }
  file.reset();
  // A reader that holds the old file without sharing deletion (a collector
  // in the middle of its read) makes the replace fail for a moment.
  constexpr int kMoveAttempts = 3;
  constexpr DWORD kMoveRetryMs = 20;
  DWORD code = 0;
  for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
    if (attempt > 0) ::Sleep(kMoveRetryMs);
    if (::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | (flushed ? MOVEFILE_WRITE_THROUGH : 0))) {
      return std::nullopt;
    }
    code = ::GetLastError();
    if (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) break;
  }
  return failure(code);
}

std::optional<std::string> CreateNewFile(const std::string& path, std::string_view text, unsigned /*mode*/) {
  UniqueFileHandle file = CreateExclusive(path);
  if (!file) return ErrorText(::GetLastError());
  if (!WriteAllAndFlush(file.get(), text)) {
    const DWORD code = ::GetLastError();
    file.reset();
    ::DeleteFileA(path.c_str());
    return ErrorText(code);
  }
  return std::nullopt;
}

}  // namespace qov::platform
