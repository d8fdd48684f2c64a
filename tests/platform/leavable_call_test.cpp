// The helper that runs calls which cannot be cancelled: results come back,
// a stop gives up on a call in flight without waiting for it, and the
// helper left inside that call does not hold up the next owner.
#include "platform/leavable_call.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace qov::platform {
namespace {

struct Latch {
  std::mutex mutex;
  std::condition_variable cv;
  bool open = false;
  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    cv.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [this] { return open; });
  }
};

TEST(LeavableWorkerTest, ResultsComeBackOnOneReusedThread) {
  LeavableWorker worker;
  platform::StopRequest no_stop;
  std::thread::id first;
  for (int i = 0; i < 50; ++i) {
    std::thread::id here;
    EXPECT_EQ(worker.Run([&here, i] { here = std::this_thread::get_id(); return i % 2 == 0; }, no_stop),
              std::optional<bool>(i % 2 == 0));
    if (i == 0) first = here;
    EXPECT_EQ(here, first) << "one helper serves every call";
    EXPECT_NE(here, std::this_thread::get_id());
  }
}

TEST(LeavableWorkerTest, StopGivesUpOnACallInFlightAndLeavesItBehind) {
  auto latch = std::make_shared<Latch>();
  auto finished = std::make_shared<std::atomic<bool>>(false);
  platform::StopRequest stop;
  {
    LeavableWorker worker;
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      stop.Set();
    });
    EXPECT_EQ(worker.Run([latch, finished] { latch->Wait(); *finished = true; return true; }, stop), std::nullopt);
    stopper.join();
    EXPECT_FALSE(*finished);
    EXPECT_EQ(worker.Run([] { return true; }, stop), std::nullopt) << "nothing starts once stopped";
  }  // the worker goes while its helper is still inside the call
  latch->Open();
  for (int i = 0; i < 1000 && !*finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(*finished) << "the helper was left to finish, not killed";
}

}  // namespace
}  // namespace qov::platform
