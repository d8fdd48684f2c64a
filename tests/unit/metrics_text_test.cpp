// The metrics text and when the writer publishes it.
#include "metrics/metrics_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "metrics/metrics_writer.h"
#include "service/program_switches.h"
#include "support/recording_log.h"

namespace qov::metrics {
namespace {

TEST(MetricsTextTest, GoldenText) {
  Snapshot s;
  s.device_running = true;
  s.last_ack_age_ms = 1250;
  s.last_ack_unix_ms = 1'800'000'121'750;
  s.check_last_success = false;
  s.check_failed_in_row = 3;
  s.check_cycles_ok = 12;
  s.check_cycles_fail = 4;
  s.life_messages_ok = 300;
  s.life_messages_fail = 1;
  s.modem_resets = 2;
  s.computer_resets = 0;
  s.computer_resets_suppressed = 6;
  s.start_time_s = 1'800'000'123;
  s.log_write_failures = 5;
  s.state_write_failures = 1;
  s.version = "1.2.3.4";
  EXPECT_EQ(FormatMetrics(s),
            "# HELP qov_up 1 while the service runs, 0 in the file it leaves at its stop.\n"
            "# TYPE qov_up gauge\n"
            "qov_up 1\n"
            "# HELP qov_build_info Always 1; the label names the service's version.\n"
            "# TYPE qov_build_info gauge\n"
            "qov_build_info{version=\"1.2.3.4\"} 1\n"
            "# HELP qov_device_running 1 while the watchdog board's timer runs and takes life messages.\n"
            "# TYPE qov_device_running gauge\n"
            "qov_device_running 1\n"
            "# HELP qov_device_last_ack_age_seconds Seconds since the board last acknowledged an exchange; -1 "
            "before its first acknowledgement (deprecated: use qov_device_last_ack_timestamp_seconds).\n"
            "# TYPE qov_device_last_ack_age_seconds gauge\n"
            "qov_device_last_ack_age_seconds 1.250\n"
            "# HELP qov_device_last_ack_timestamp_seconds Unix time the board last acknowledged an exchange; 0 "
            "before its first acknowledgement.\n"
            "# TYPE qov_device_last_ack_timestamp_seconds gauge\n"
            "qov_device_last_ack_timestamp_seconds 1800000121.750\n"
            "# HELP qov_check_last_success 1 when the last check cycle passed; 0 before the first.\n"
            "# TYPE qov_check_last_success gauge\n"
            "qov_check_last_success 0\n"
            "# HELP qov_check_failed_cycles_in_row Check cycles failed since the last passing one.\n"
            "# TYPE qov_check_failed_cycles_in_row gauge\n"
            "qov_check_failed_cycles_in_row 3\n"
            "# HELP qov_check_cycles_total Check cycles completed, by outcome.\n"
            "# TYPE qov_check_cycles_total counter\n"
            "qov_check_cycles_total{result=\"ok\"} 12\n"
            "qov_check_cycles_total{result=\"fail\"} 4\n"
            "# HELP qov_life_messages_total Life messages sent to the board, by outcome.\n"
            "# TYPE qov_life_messages_total counter\n"
            "qov_life_messages_total{result=\"ok\"} 300\n"
            "qov_life_messages_total{result=\"fail\"} 1\n"
            "# HELP qov_resets_total Reset requests handed to the board, by kind.\n"
            "# TYPE qov_resets_total counter\n"
            "qov_resets_total{kind=\"modem\"} 2\n"
            "qov_resets_total{kind=\"computer\"} 0\n"
            "# HELP qov_resets_suppressed_total Computer resets that were due but not sent: the day's allowance was "
            "used up.\n"
            "# TYPE qov_resets_suppressed_total counter\n"
            "qov_resets_suppressed_total 6\n"
            "# HELP qov_start_time_seconds Unix time of the service start.\n"
            "# TYPE qov_start_time_seconds gauge\n"
            "qov_start_time_seconds 1800000123\n"
            "# HELP qov_log_write_failures_total Log lines that could not be written to the log file.\n"
            "# TYPE qov_log_write_failures_total counter\n"
            "qov_log_write_failures_total 5\n"
            "# HELP qov_state_write_failures_total Computer resets whose record (the reboot-loop guard's count) "
            "could not be stored for good.\n"
            "# TYPE qov_state_write_failures_total counter\n"
            "qov_state_write_failures_total 1\n");
}

// The age (kept one release) and the Unix time of the last acknowledgement:
// the monotonic age placed on the wall clock of the same moment; -1 and 0
// before the first.
TEST(MetricsTextTest, LastAcknowledgementAsAgeAndAsUnixTime) {
  struct Case {
    platform::Tick last_ack, now;
    std::int64_t utc_now_s;
    bool up;
    std::vector<std::string> lines;
  };
  for (const Case& c : {
           Case{Metrics::kNever, 5000, 1'800'000'000, true,
                {"qov_device_last_ack_age_seconds -1", "qov_device_last_ack_timestamp_seconds 0"}},
           Case{4993, 5000, 1'800'000'000, true,
                {"qov_device_last_ack_age_seconds 0.007", "qov_device_last_ack_timestamp_seconds 1799999999.993"}},
           Case{5000, 5000, 1'800'000'000, true,
                {"qov_device_last_ack_age_seconds 0.000", "qov_device_last_ack_timestamp_seconds 1800000000.000"}},
           Case{1000, 3'601'000, 1'800'003'600, false,
                {"qov_device_last_ack_age_seconds 3600.000", "qov_device_last_ack_timestamp_seconds 1800000000.000",
                 "qov_up 0"}},
           // A wall clock set to before the acknowledgement could have been.
           Case{1000, 62'005, 30, true, {"qov_device_last_ack_timestamp_seconds 0"}},
       }) {
    Metrics m;
    m.last_ack_tick = c.last_ack;
    const std::string text = FormatMetrics(TakeSnapshot(m, c.now, c.utc_now_s, c.up));
    for (const std::string& line : c.lines) {
      EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << "\n" << text;
    }
  }
}

// The label carries the version -VERSION shows, which the build takes from
// the version resource.
TEST(MetricsTextTest, BuildInfoNamesTheProductVersion) {
  const std::string version = service::VersionText();
  ASSERT_FALSE(version.empty());
  const std::string text = FormatMetrics(TakeSnapshot(Metrics{}, 0, 0, true));
  EXPECT_NE(text.find("\nqov_build_info{version=\"" + version + "\"} 1\n"), std::string::npos) << text;
}

// Due at the first call, then once per period counted from the attempt
// before; a failure is logged once however often it recurs.
TEST(MetricsWriterTest, WritesOncePerPeriodAndLogsTheFirstFailureOnly) {
  Metrics m;
  test::RecordingLog log;
  std::vector<platform::Tick> writes;
  std::optional<std::string> failure;
  std::string last_text;
  platform::Tick now = 0;
  m.last_ack_tick = 100;
  MetricsWriter w(
      m, log, "/var/m.prom", 15,
      [&](const std::string& path, std::string_view text) {
        EXPECT_EQ(path, "/var/m.prom");
        EXPECT_EQ(text.rfind("# HELP qov_up ", 0), 0u);
        writes.push_back(now);
        last_text = text;
        return failure;
      },
      [] { return std::int64_t{1'800'000'000}; });
  for (now = 100; now <= 60'100; now += 100) {
    failure = now >= 30'000 && now < 50'000 ? std::optional<std::string>("No such file or directory") : std::nullopt;
    w.WriteIfDue(now);
  }
  EXPECT_EQ(writes, (std::vector<platform::Tick>{100, 15'100, 30'100, 45'100, 60'100}));
  EXPECT_EQ(log.Texts(), (std::vector<std::string>{"metrics file write fail (/var/m.prom): No such file or directory"}));
  EXPECT_NE(last_text.find("\nqov_device_last_ack_timestamp_seconds 1799999940.000\n"), std::string::npos)
      << "the writer's wall clock places the acknowledgement 60 s back";
  w.WriteStopped(60'200);
  EXPECT_EQ(writes.size(), 6u) << "the stop writes regardless of the period";
}

}  // namespace
}  // namespace qov::metrics
