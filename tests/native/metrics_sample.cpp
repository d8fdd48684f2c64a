// Writes the metrics file as the service does: the product's writer and its
// file replacement, with every counter moved through the product's hooks at
// fake times, so the monitoring checks lint what the product writes.
#include <cstdio>

#include "metrics/metrics_writer.h"
#include "support/fake_clock.h"
#include "support/recording_log.h"

int main(int argc, char** argv) {
  using namespace qov::metrics;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  qov::test::FakeClock clock;
  qov::test::RecordingLog log;
  Metrics m;
  m.start_time_s = 1'800'000'000;
  m.device_running = true;
  RecordCheckCycle(&m, true, 0);
  RecordCheckCycle(&m, false, 1);
  for (Counter Metrics::*c : {&Metrics::life_messages_ok, &Metrics::life_messages_fail, &Metrics::modem_resets,
                              &Metrics::computer_resets, &Metrics::computer_resets_suppressed,
                              &Metrics::log_write_failures, &Metrics::state_write_failures}) {
    Count(&m, c);
  }
  m.last_ack_tick = clock.NowMs();
  clock.Advance(1250);
  MetricsWriter writer(m, log, argv[1], 15);
  writer.WriteIfDue(clock.NowMs());
  for (const std::string& line : log.Texts()) std::fprintf(stderr, "%s\n", line.c_str());
  return log.Texts().empty() ? 0 : 1;
}
