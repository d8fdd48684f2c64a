// The log file renamed or deleted while the writer holds it, on Windows:
// the writer's handle shares no deletion, so both are refused and the log
// goes on in the same file.
//
//   fault                                  expected outcome
//   -------------------------------------  ------------------------------------------------------------
//   renamed while open                     refused (sharing violation); every line stays in the file
//   deleted while open                     refused; every line stays in the file
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/log_writer.h"
#include "platform/win32.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace qov::config {
namespace {

using test::ReadAll;

TEST(LogFaultWin32Test, RenameAndDeleteOfTheOpenLogAreRefusedAndLoggingGoesOn) {
  test::TempDir dir;
  const std::string path = dir.File("qov.log");
  test::FakeClock clock;
  LogWriter log([] { return std::string("T"); }, clock);
  log.Configure(path, 1024);
  log.Open();
  log.Write("one");
  EXPECT_FALSE(::MoveFileA(path.c_str(), (path + ".moved").c_str()));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  log.Write("two");
  EXPECT_FALSE(::DeleteFileA(path.c_str()));
  log.Write("three");
  EXPECT_TRUE(log.IsOpen());
  log.Close();
  EXPECT_EQ(ReadAll(path), "T - one\r\nT - two\r\nT - three\r\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".moved"));
}

}  // namespace
}  // namespace qov::config
