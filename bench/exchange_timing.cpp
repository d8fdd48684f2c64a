// qov_bench_exchange: times single exchanges of the product's device link
// (the POSIX serial port, the receive thread and DeviceLink, as the daemon
// runs them) against a device on a serial port, normally the simulator.
// Prints one line per exchange: "<code> <ok 0|1> <milliseconds>".
// Args: --port PATH [--count N] [--code C] (code 1 is the identification,
// any other code a command answered by the acknowledgement).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "device/com_port.h"
#include "device/link_protocol.h"
#include "device/receive_thread.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
  std::string port_path;
  int count = 200;
  int code = qov::device::CMD_LIFE_MESSAGE;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--port") port_path = argv[i + 1];
    else if (arg == "--count") count = std::atoi(argv[i + 1]);
    else if (arg == "--code") code = std::atoi(argv[i + 1]);
  }
  if (port_path.empty() || count <= 0 || code <= 0 || code > 255) {
    std::fputs("usage: qov_bench_exchange --port PATH [--count N] [--code C]\n", stderr);
    return 2;
  }
  qov::platform::Clock& clock = qov::platform::SystemClock();
  qov::device::TComPort port;
  if (!port.Open(9600, port_path)) {
    std::fprintf(stderr, "qov_bench_exchange: cannot open %s\n", port_path.c_str());
    return 1;
  }
  qov::device::RcvMailbox mailbox;
  auto receiver = qov::device::StartReceiveThread(clock, port, mailbox);
  qov::platform::StopRequest never;
  qov::device::DeviceLink link(clock, port, mailbox, never);
  // Exchanges start at random moments.
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> pause_ms(5, 80);
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(rng)));
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = code == qov::device::CMD_VERSION ? link.CheckDeviceVersion()
                                                     : link.SendDeviceCommand(static_cast<std::uint8_t>(code));
    const auto t1 = std::chrono::steady_clock::now();
    if (!ok) ++failed;
    std::printf("%d %d %.3f\n", code, ok ? 1 : 0, std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  receiver->RequestTerminate();
  receiver.reset();
  port.Close();
  return failed == 0 ? 0 : 1;
}
