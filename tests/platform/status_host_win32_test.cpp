// A status record names the process that wrote it: one that has ended no
// longer runs, even while a handle keeps its process object alive.
#include <gtest/gtest.h>

#include <vector>

#include "platform/status_host.h"
#include "platform/win32.h"
#include "platform/win32_handle.h"

namespace qov {
namespace {

TEST(StatusHostWin32Test, ProcessRunsUntilItEnds) {
  EXPECT_TRUE(platform::ProcessRuns(platform::CurrentProcessId()));
  EXPECT_FALSE(platform::ProcessRuns(0));
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::vector<char> line{'c', 'm', 'd', '.', 'e', 'x', 'e', ' ', '/', 'c', ' ', 'e', 'x', 'i', 't', ' ', '0', '\0'};
  ASSERT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  const platform::UniqueHandle process(pi.hProcess);
  const platform::UniqueHandle thread(pi.hThread);
  ASSERT_EQ(::WaitForSingleObject(process.get(), 30'000), WAIT_OBJECT_0);
  EXPECT_FALSE(platform::ProcessRuns(pi.dwProcessId));
}

}  // namespace
}  // namespace qov
