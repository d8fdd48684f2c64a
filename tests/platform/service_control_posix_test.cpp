// The daemon's dispatcher: SIGTERM is the stop control when this service is
// stopped and the shutdown control when the whole system goes down, so that
// the board's timer keeps running through a shutdown, as on Windows.
#include "platform/service_control_posix.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/user_control_posix.h"
#include "support/temp_dir.h"

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

std::mutex g_user_codes_mutex;
std::vector<std::uint32_t> g_user_codes;
void RecordUserControl(std::uint32_t code) {
  std::lock_guard lock(g_user_codes_mutex);
  g_user_codes.push_back(code);
}
std::size_t UserCodesSeen() {
  std::lock_guard lock(g_user_codes_mutex);
  return g_user_codes.size();
}

// The service's own codes reach the control handler through the daemon's
// FIFO, which only the daemon's user (root) may open: mode 0600 in a folder
// made 0700. Without the daemon (before it, after it) nothing is sent.
TEST(DaemonUserControlTest, CodesThroughTheFifoReachTheHandlerOnlyWhileTheDaemonRuns) {
  test::TempDir temp;
  const std::string folder = temp.File("state");
  ::setenv("QOV_STATE_DIR", folder.c_str(), 1);
  std::string why;
  EXPECT_EQ(SendUserControl("qov_lumo_service", kTestModemControl, why), ControlSent::kNotRunning) << why;

  std::unique_ptr<ServiceControl> sc = MakeDaemonServiceControl([] { return false; }, true);
  const pthread_t dispatcher = pthread_self();
  struct stat fifo {}, dir {};
  ControlSent sent_modem = ControlSent::kFailed, sent_computer = ControlSent::kFailed, sent_system = ControlSent::kFailed;
  sc->RunDispatcher({"qov_lumo_service"}, [&](const std::vector<std::string>&) {
    std::uint32_t error = 0;
    ASSERT_TRUE(sc->RegisterControlHandler("qov_lumo_service", &RecordUserControl, error));
    ::lstat(ControlFifoPath().c_str(), &fifo);
    ::stat(folder.c_str(), &dir);
    std::string text;
    sent_modem = SendUserControl("qov_lumo_service", kTestModemControl, text);
    sent_system = SendUserControl("qov_lumo_service", 1, text);  // the stop is not one of these codes
    sent_computer = SendUserControl("qov_lumo_service", kTestComputerControl, text);
    for (int i = 0; i < 20000 && UserCodesSeen() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The run ends once the stop is taken, so no signal is left pending.
    pthread_kill(dispatcher, SIGTERM);
    for (int i = 0; i < 20000 && UserCodesSeen() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  EXPECT_EQ(sent_modem, ControlSent::kSent);
  EXPECT_EQ(sent_computer, ControlSent::kSent);
  EXPECT_EQ(sent_system, ControlSent::kFailed);
  {
    std::lock_guard lock(g_user_codes_mutex);
    // Then the stop, from the signal that ended the run.
    EXPECT_EQ(g_user_codes, (std::vector<std::uint32_t>{kTestModemControl, kTestComputerControl, 1}));
  }
  EXPECT_TRUE(S_ISFIFO(fifo.st_mode));
  EXPECT_EQ(fifo.st_mode & 07777, 0600u);
  EXPECT_EQ(fifo.st_uid, ::geteuid());
  EXPECT_EQ(dir.st_mode & 07777, 0700u);
  EXPECT_EQ(SendUserControl("qov_lumo_service", kTestModemControl, why), ControlSent::kNotRunning) << why;
  ::unsetenv("QOV_STATE_DIR");
}

}  // namespace
}  // namespace qov::platform
