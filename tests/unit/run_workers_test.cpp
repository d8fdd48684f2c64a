#include "service/run_workers.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "support/fake_clock.h"
#include "support/fake_probes.h"
#include "support/fake_serial_port.h"
#include "support/recording_log.h"

namespace qov::service {
namespace {

using supervision::StartOutcome;

// One run's workers, made but never run: the starter records, or refuses
// the first creation of the control thread as a system out of threads would.
class RunWorkersTest : public ::testing::Test {
 protected:
  RunWorkers MakeWorkers() {
    return RunWorkers(
        [this] {
          ++controls_made_;
          auto made = std::make_unique<device::TQOVControlThread>(device::DeviceContext{clock_, log_, params_, port_, mailbox_});
          control_ = made.get();
          return made;
        },
        [this](device::ResetRequests* requests) {
          given_requests_ = requests;
          auto made = std::make_unique<supervision::TOSMonitorThread>(
              supervision::CheckerContext{clock_, log_, params_, flags_, requests, probes_, {}});
          checker_ = made.get();
          return made;
        },
        [this](platform::WorkerThread&) {
          if (control_refusals_-- > 0) throw std::runtime_error("no threads left");
          ++started_;
        });
  }

  test::FakeClock clock_;
  test::RecordingLog log_{&clock_};
  config::TParamRec params_;
  supervision::RunFlags flags_;
  device::TComPort port_{std::make_unique<test::FakeSerialPort>(clock_)};
  device::RcvMailbox mailbox_;
  test::FakeProbes probes_;
  int control_refusals_ = 1;
  int controls_made_ = 0;
  int started_ = 0;
  device::TQOVControlThread* control_ = nullptr;
  supervision::TOSMonitorThread* checker_ = nullptr;
  device::ResetRequests* given_requests_ = nullptr;
};

// Each worker is made and started once, a failed creation is tried again,
// the checker's requests go to the control thread, a worker past its
// promise is named (the control thread first), and once the stop closed the
// gate nothing more is made.
TEST_F(RunWorkersTest, StartsEachOnceNamesAStuckOneAndStartsNothingOnceTheStopBegan) {
  RunWorkers workers = MakeWorkers();
  std::string error;
  EXPECT_EQ(workers.StartControlThread(error), StartOutcome::kFailed);
  EXPECT_EQ(error, "no threads left");
  EXPECT_EQ(workers.Control(), nullptr);
  EXPECT_EQ(workers.StartControlThread(error), StartOutcome::kRunning);
  EXPECT_EQ(workers.StartControlThread(error), StartOutcome::kRunning);
  EXPECT_EQ(controls_made_, 2);
  ASSERT_EQ(workers.Control(), control_);
  EXPECT_EQ(workers.StartChecker(error), StartOutcome::kRunning);
  EXPECT_EQ(workers.StartChecker(error), StartOutcome::kRunning);
  EXPECT_EQ(started_, 2);
  EXPECT_EQ(workers.Checker(), checker_);
  EXPECT_EQ(given_requests_, static_cast<device::ResetRequests*>(control_));

  EXPECT_EQ(workers.StuckWorker(1'000'000), nullptr) << "a worker that promised nothing is not stuck";
  control_->PromiseProgressBy(100);
  checker_->PromiseProgressBy(50);
  EXPECT_EQ(workers.StuckWorker(50), nullptr);
  EXPECT_STREQ(workers.StuckWorker(101), "control thread");
  control_->PromiseProgressBy(1000);
  EXPECT_STREQ(workers.StuckWorker(101), "checker thread");

  RunWorkers late = MakeWorkers();
  late.CloseGate();
  EXPECT_EQ(late.StartControlThread(error), StartOutcome::kStopping);
  EXPECT_EQ(late.StartChecker(error), StartOutcome::kStopping);
  EXPECT_EQ(late.Control(), nullptr);
  EXPECT_EQ(late.Checker(), nullptr);
  EXPECT_EQ(late.ReceiverOfEndedControl(), nullptr);
}

}  // namespace
}  // namespace qov::service
