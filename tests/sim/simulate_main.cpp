// qov_simulate: runs the service under the deterministic simulator for a
// range of seeds and reports simulated time, faults and violations.
//   qov_simulate [--seed N] [--seeds K] [--hours H] [--trace FILE]
#include <sched.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>

#include "sim/simulation.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: qov_simulate [--seed N] [--seeds K] [--hours H] [--trace FILE]\n");
  return 2;
}

// One thread of the service runs at a time: on one core, handing the turn
// from thread to thread costs far less than across cores.
void StayOnOneCore() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &allowed)) continue;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    (void)sched_setaffinity(0, sizeof one, &one);
    return;
  }
}

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t first = 1;
  // A simulated year by default, over many configurations.
  int seeds = 24;
  double hours = 365;
  std::string trace_path;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return Usage();
    const std::string v = argv[++i];
    if (a == "--seed") {
      first = std::strtoull(v.c_str(), nullptr, 10);
      seeds = 1;
    } else if (a == "--seeds") {
      seeds = std::atoi(v.c_str());
    } else if (a == "--hours") {
      hours = std::atof(v.c_str());
    } else if (a == "--trace") {
      trace_path = v;
    } else {
      return Usage();
    }
  }
  if (seeds < 1 || hours <= 0) return Usage();
  std::FILE* trace = trace_path.empty() ? nullptr : std::fopen(trace_path.c_str(), "w");
  if (!trace_path.empty() && !trace) {
    std::fprintf(stderr, "qov_simulate: cannot write %s\n", trace_path.c_str());
    return 2;
  }

  StayOnOneCore();
  const double cpu_start = CpuSeconds();
  const auto wall_start = std::chrono::steady_clock::now();
  double simulated_hours = 0;
  int violations = 0;
  std::map<std::string, int> faults;
  for (int k = 0; k < seeds; ++k) {
    const std::uint64_t seed = first + static_cast<std::uint64_t>(k);
    qov::sim::RunResult r = qov::sim::Simulation(seed, hours, trace).Run();
    simulated_hours += r.hours;
    for (const auto& [kind, n] : r.faults) faults[kind] += n;
    std::printf("seed %llu: %.0f h, %d boots, %d stops, %d cycles, %d life messages, %d modem / %d computer resets asked, "
                "%llu switches, trace %016llx (%llu lines)%s\n  config: %s\n",
                static_cast<unsigned long long>(seed), r.hours, r.boots, r.stops, r.cycles, r.life_messages,
                r.modem_requests, r.computer_requests, static_cast<unsigned long long>(r.switches),
                static_cast<unsigned long long>(r.trace_hash), static_cast<unsigned long long>(r.trace_lines),
                r.violation.empty() ? "" : "  VIOLATION", r.config.c_str());
    if (!r.violation.empty()) {
      ++violations;
      std::printf("seed %llu: %s  replay: scripts/simulate --seed %llu --hours %g\n",
                  static_cast<unsigned long long>(seed), r.violation.c_str(), static_cast<unsigned long long>(seed),
                  hours);
    }
    std::fflush(stdout);
  }
  if (trace) std::fclose(trace);
  const double cpu = CpuSeconds() - cpu_start;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  std::printf("faults injected:");
  for (const auto& [kind, n] : faults) std::printf(" %s %d;", kind.c_str(), n);
  std::printf("\nsimulated %.0f h (%.2f years) in %.1f s CPU, %.1f s wall: %.0f simulated hours per CPU second; "
              "%d violation(s)\n",
              simulated_hours, simulated_hours / 8766.0, cpu, wall, cpu > 0 ? simulated_hours / cpu : 0.0, violations);
  return violations == 0 ? 0 : 1;
}
