// The stop sequence on real threads, one of which never ends: nothing is
// killed, the others still stop in turn, and the log stays usable.
#include "service/stop_sequence.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "config/log_writer.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace qov::service {
namespace {

// Records the order in which the threads saw their terminate requests.
struct Journal {
  std::mutex mutex;
  std::vector<std::string> ended;
  void Add(const std::string& s) {
    std::lock_guard lock(mutex);
    ended.push_back(s);
  }
};

class WaitingWorker final : public platform::WorkerThread {
 public:
  WaitingWorker(std::string name, Journal& journal, config::LogWriter& log)
      : name_(std::move(name)), journal_(journal), log_(log) {}
  ~WaitingWorker() override { Join(); }

 protected:
  void Execute() override {
    while (!Terminated()) Stop().Wake().Wait(platform::WakeEvent::kForever);
    log_.Write(name_ + " ended");
    journal_.Add(name_);
  }

 private:
  std::string name_;
  Journal& journal_;
  config::LogWriter& log_;
};

// Ignores its terminate request until the test lets it go; it writes to the
// log first, so a lock it held would show.
class DeafWorker final : public platform::WorkerThread {
 public:
  explicit DeafWorker(config::LogWriter& log) : log_(log) {}
  ~DeafWorker() override {
    Release();
    Join();
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  std::atomic<bool> waiting{false};

 protected:
  void Execute() override {
    log_.Write("deaf worker busy");
    std::unique_lock lock(mutex_);
    waiting = true;
    cv_.wait(lock, [this] { return released_; });
  }

 private:
  config::LogWriter& log_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
};

TEST(StopSequenceThreadsTest, AThreadThatNeverEndsIsLeftBehindAndTheRestStopInOrder) {
  test::TempDir dir;
  config::LogWriter log;
  log.Configure(dir.File("qov.log"), 1024);
  log.Open();
  Journal journal;
  DeafWorker control(log);
  WaitingWorker checker("checker", journal, log), receiver("receiver", journal, log),
      supervisor("supervisor", journal, log);
  for (platform::WorkerThread* t : {static_cast<platform::WorkerThread*>(&control),
                                    static_cast<platform::WorkerThread*>(&checker),
                                    static_cast<platform::WorkerThread*>(&receiver),
                                    static_cast<platform::WorkerThread*>(&supervisor)}) {
    t->Start();
  }
  while (!control.waiting) std::this_thread::yield();

  std::vector<std::uint32_t> steps;
  const bool all_ended = StopInOrder({{[&] { return &control; }, 200},
                                      {[&] { return &checker; }, 5000},
                                      {[&] { return &receiver; }, 5000},
                                      {[&] { return &supervisor; }, 5000}},
                                     [&](std::uint32_t limit) { steps.push_back(limit); });
  EXPECT_FALSE(all_ended);
  EXPECT_EQ(steps, (std::vector<std::uint32_t>{200, 5000, 5000, 5000}));
  EXPECT_EQ(journal.ended, (std::vector<std::string>{"checker", "receiver", "supervisor"}));
  EXPECT_FALSE(control.WaitFor(0)) << "left running, not killed";

  log.Write("Service stopped");
  log.Close();
  std::ifstream in(dir.File("qov.log"), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("deaf worker busy"), std::string::npos);
  EXPECT_NE(text.str().find("supervisor ended"), std::string::npos);
  EXPECT_NE(text.str().find(" - Service stopped\r\n"), std::string::npos);

  control.Release();
  EXPECT_TRUE(control.WaitFor(5000)) << "ends once let go";
}

}  // namespace
}  // namespace qov::service
