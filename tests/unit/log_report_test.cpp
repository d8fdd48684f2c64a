#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/log_report.h"
#include "service/log_timeline.h"

namespace qov::service {
namespace {

using K = LogEventKind;

// The stamps both builds write (the Windows short date with a 12-hour time,
// the C locale's two-digit year with a 24-hour one), a stamp without a time,
// and lines whose stamp cannot be read.
TEST(LogTimelineTest, StampsOfBothBuildsAreRead) {
  struct Case {
    const char* line;
    const char* time;  // "" for none
    const char* message;
    K kind;
  };
  const Case cases[] = {
      {"12/9/2026 9:23:21 PM - ping ok", "2026-12-09 21:23:21", "ping ok", K::kCheckOk},
      {"12/10/2026 12:01:00 AM - modem reset ok", "2026-12-10 00:01:00", "modem reset ok", K::kModemReset},
      {"1/1/2027 12:00:05 PM - reset pc ok\r", "2027-01-01 12:00:05", "reset pc ok", K::kComputerReset},
      {"12/09/26 21:43:08 - Service stopped", "2026-12-09 21:43:08", "Service stopped", K::kServiceStop},
      {"2/29/2028 - QOV COM port open fail (COM3)", "2028-02-29 00:00:00", "QOV COM port open fail (COM3)",
       K::kBoardDown},
      {"09.12.2026 21:43:08 - ping fail", "", "09.12.2026 21:43:08 - ping fail", K::kOther},
      {"13/1/2026 1:00:00 PM - ping fail", "", "13/1/2026 1:00:00 PM - ping fail", K::kOther},
      {"no stamp at all", "", "no stamp at all", K::kOther},
      {"12/9/2026 9:23:21 PM - reset pc suppressed (2 in 24 h)", "2026-12-09 21:23:21",
       "reset pc suppressed (2 in 24 h)", K::kResetSuppressed},
      {"12/9/2026 9:23:21 PM - Open Internet-connection \"isp\"", "2026-12-09 21:23:21",
       "Open Internet-connection \"isp\"", K::kDial},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const LogEvent e = ParseLogLine(c.line);
    EXPECT_EQ(e.time ? TimeText(*e.time) : "", c.time);
    EXPECT_EQ(e.message, c.message);
    EXPECT_EQ(e.kind, c.kind);
  }
}

// Two generations read in order across midnight: counts per day and in all,
// the runs of failed checks (one closed, one still open at the end), the
// time the board was away, and a line without a stamp placed with the one
// before it. The page and the text say the same, and the page fetches and
// runs nothing and escapes what the log says.
TEST(LogTimelineTest, SummaryPageAndTextAgreeWithTheLog) {
  const std::string older =
      "12/9/2026 11:58:00 PM - Service started\r\n"
      "12/9/2026 11:58:01 PM - QOV timer init ok\r\n"
      "12/9/2026 11:59:00 PM - ping ok\r\n"
      "12/10/2026 12:00:00 AM - ping fail\r\n";
  const std::string current =
      "12/10/2026 12:01:00 AM - ping fail\r\n"
      "12/10/2026 12:01:00 AM - modem reset ok\r\n"
      "12/10/2026 12:01:30 AM - Life message send fail\r\n"
      "a line <b>without</b> a stamp\r\n"
      "12/10/2026 12:01:31 AM - QOV timer init ok\r\n"
      "12/10/2026 12:02:00 AM - reset pc ok\r\n"
      "12/10/2026 12:03:00 AM - reset pc suppressed (1 in 24 h)\r\n"
      "12/10/2026 12:05:00 AM - ping ok\r\n"
      "12/10/2026 12:06:00 AM - ping fail\r\n"
      "12/10/2026 12:06:10 AM - Service stopped\r\n";
  const LogSummary s = Summarize({older, current});
  EXPECT_EQ(s.events.size(), 14u);
  EXPECT_EQ(TimeText(*s.first), "2026-12-09 23:58:00");
  EXPECT_EQ(TimeText(*s.last), "2026-12-10 00:06:10");
  const auto total = [&](K k) { return s.totals[static_cast<std::size_t>(k)]; };
  EXPECT_EQ(total(K::kCheckOk), 2);
  EXPECT_EQ(total(K::kCheckFail), 3);
  EXPECT_EQ(total(K::kModemReset), 1);
  EXPECT_EQ(total(K::kComputerReset), 1);
  EXPECT_EQ(total(K::kResetSuppressed), 1);
  EXPECT_EQ(total(K::kOther), 1);
  ASSERT_EQ(s.per_day.size(), 2u);
  EXPECT_EQ(s.per_day.at("2026-12-09")[static_cast<std::size_t>(K::kCheckOk)], 1);
  EXPECT_EQ(s.per_day.at("2026-12-10")[static_cast<std::size_t>(K::kCheckFail)], 3);
  ASSERT_EQ(s.outages.size(), 2u);
  EXPECT_FALSE(s.outages[0].open);
  EXPECT_TRUE(s.outages[1].open);
  ASSERT_TRUE(s.longest_outage);
  EXPECT_EQ(s.longest_outage->to - s.longest_outage->from, 300);
  ASSERT_EQ(s.board_down.size(), 1u);
  EXPECT_EQ(s.board_down[0].to - s.board_down[0].from, 1);
  EXPECT_EQ(DurationText(300), "5 min 00 s");
  EXPECT_EQ(DurationText(7500), "2 h 05 min");

  const std::string text = ReportText(s, "qov.log");
  EXPECT_NE(text.find("checks failed: 3"), std::string::npos) << text;
  EXPECT_NE(text.find("Longest outage (failed checks in a row): 5 min 00 s"), std::string::npos) << text;
  const std::string page = ReportHtml(s, "a<b>.log");
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("http"), std::string::npos) << "nothing is fetched";
  EXPECT_EQ(page.find("<b>"), std::string::npos) << "the log's text is escaped";
  EXPECT_NE(page.find("a&lt;b&gt;.log"), std::string::npos);
  EXPECT_NE(page.find("<tr><td>total</td><td>2</td><td>3</td><td>1</td><td>1</td><td>1</td><td>1</td>"),
            std::string::npos)
      << page;
}

}  // namespace
}  // namespace qov::service
