// The daemon's dispatcher: SIGTERM is the stop control when this service is
// stopped and the shutdown control when the whole system goes down, so that
// the board's timer keeps running through a shutdown, as on Windows.
#include "platform/service_control_posix.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qov::platform {
namespace {

std::atomic<std::uint32_t> g_code{0};
void RecordControl(std::uint32_t code) { g_code.store(code); }

TEST(DaemonSignalsTest, SigtermIsTheShutdownControlOnlyWhileTheSystemGoesDown) {
  for (const bool system_stopping : {false, true}) {
    SCOPED_TRACE(system_stopping ? "system stopping" : "service stopped");
    g_code = 0;
    std::unique_ptr<ServiceControl> sc = MakeDaemonServiceControl([system_stopping] { return system_stopping; });
    const pthread_t dispatcher = pthread_self();
    const std::uint32_t result = sc->RunDispatcher({"qov_lumo_service"}, [&](const std::vector<std::string>&) {
      std::uint32_t error = 0;
      ASSERT_TRUE(sc->RegisterControlHandler("qov_lumo_service", &RecordControl, error));
      // To the dispatcher's thread, which holds the signal blocked for its wait.
      pthread_kill(dispatcher, SIGTERM);
      for (int i = 0; i < 20000 && g_code.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(g_code.load(), system_stopping ? 5u : 1u);
  }
}

}  // namespace
}  // namespace qov::platform
