// No log line carries a control character raw: a message that holds one
// (a value from the network, a text someone could edit) cannot break its
// line in two or forge the next one.
#include "config/sanitize_line.h"

#include <gtest/gtest.h>

#include "config/log_writer.h"
#include "support/temp_dir.h"

namespace qov::config {
namespace {

TEST(SanitizeLineTest, ControlCharactersAreWrittenAsHexAndEverythingElseIsKept) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"ping ok", "ping ok"},
      {"a\r\nb", "a\\x0D\\x0Ab"},
      {"tab\there", "tab\\x09here"},
      {"\x1b[2J", "\\x1B[2J"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"del\x7f", "del\\x7F"},
      {"\x1f \x20~", "\\x1F  ~"},
      {"C:\\path\\x0A \xC3\xA9\xFF\x80", "C:\\path\\x0A \xC3\xA9\xFF\x80"},  // backslashes and bytes from 0x80 stay
  };
  for (const auto& c : cases) EXPECT_EQ(SanitizeLine(c.in), c.out) << c.in;
}

TEST(SanitizeLineTest, TheLogWriterEndsEachMessageOnItsOneLine) {
  test::TempDir dir;
  const std::string path = dir.File("qov_log.txt");
  LogWriter log([] { return std::string("T"); });
  log.Configure(path, 1024);
  log.Open();
  log.Write("Unable to open Internet-connection \"isp\r\nT - modem reset ok\"");
  log.Close();
  EXPECT_EQ(test::ReadAll(path), "T - Unable to open Internet-connection \"isp\\x0D\\x0AT - modem reset ok\"\r\n");
}

}  // namespace
}  // namespace qov::config
