#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace qov::platform {
namespace {

using Words = std::vector<std::string>;

TEST(SplitCommandLine, SeparatorsAndQuotes) {
  EXPECT_EQ(SplitCommandLine("prog.exe -INSTALL  /silent"), (Words{"prog.exe", "-INSTALL", "/silent"}));
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\q.exe\" a\tb"), (Words{"C:\\Program Files\\q.exe", "a", "b"}));
  EXPECT_EQ(SplitCommandLine("a \"\" b"), (Words{"a", "b"}));
  EXPECT_EQ(SplitCommandLine("-INS\"TALL\""), (Words{"-INSTALL"}));
  EXPECT_EQ(SplitCommandLine("a\\\"b c\""), (Words{"a\\b c"}));  // no escape character
  EXPECT_EQ(SplitCommandLine("\x01x\x1fy"), (Words{"x", "y"}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());
}

}  // namespace
}  // namespace qov::platform
