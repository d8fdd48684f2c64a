#include "device/receive_thread.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fake_clock.h"
#include "support/fake_serial_port.h"

namespace qov::device {
namespace {

class ReceiveThreadTest : public ::testing::Test {
 protected:
  ReceiveThreadTest() {
    auto fake = std::make_unique<test::FakeSerialPort>(clock_);
    fake_ = fake.get();
    port_ = std::make_unique<TComPort>(std::move(fake));
    port_->Open(9600, "COM3");
  }

  // Runs the body on this thread until it has paused `pauses` times.
  void RunPauses(int pauses) {
    TComRcvThread thread(clock_, *port_, mailbox_);
    int steps = 0;
    clock_.OnSleep([&](platform::Tick) {
      if (++steps >= pauses) thread.RequestTerminate();
    });
    thread.RunHere();
  }

  std::string Slot() const {
    return std::string(reinterpret_cast<const char*>(mailbox_.rcv_buffer), mailbox_.rcv_length);
  }

  test::FakeClock clock_;
  test::FakeSerialPort* fake_;
  std::unique_ptr<TComPort> port_;
  RcvMailbox mailbox_;
};

// Reads follow each other without a pause while chunks come; each chunk
// wakes the sender, and one that finds the slot taken is lost.
TEST_F(ReceiveThreadTest, PostsEachChunkAtOnceWakesTheSenderAndDropsChunksWhileTheSlotIsTaken) {
  platform::WakeEvent sender;
  mailbox_.reader = &sender;
  fake_->QueueChunk("QOV Lumo 1.0.0");
  fake_->QueueChunk("Z");
  RunPauses(1);
  EXPECT_TRUE(sender.TryTake());
  EXPECT_TRUE(mailbox_.rcv_ready.load());
  EXPECT_EQ(Slot(), "QOV Lumo 1.0.0");
  EXPECT_EQ(fake_->Reads(), 3) << "two chunks, then the read that found nothing";
  EXPECT_EQ(clock_.NowMs(), 1000 + 50) << "only the empty read paused";
}

// A failing or closed port is tried again every 50 ms; a terminate request
// set before the start reads nothing.
TEST_F(ReceiveThreadTest, EmptyAndFailedReadsPostNothingAndPauseFiftyMilliseconds) {
  TComRcvThread stopped(clock_, *port_, mailbox_);
  stopped.RequestTerminate();
  stopped.RunHere();
  EXPECT_EQ(fake_->Reads(), 0);

  fake_->idle_read_result = -2;
  RunPauses(3);
  EXPECT_EQ(fake_->Reads(), 3);
  EXPECT_EQ(clock_.NowMs(), 1000 + 3 * 50);
  port_->Close();  // reads give -1 now
  RunPauses(3);
  EXPECT_FALSE(mailbox_.rcv_ready.load());
}

}  // namespace
}  // namespace qov::device
