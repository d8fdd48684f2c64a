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

  // Runs the body on this thread for `passes` passes.
  void RunPasses(int passes) {
    TComRcvThread thread(clock_, *port_, mailbox_);
    int sleeps = 0;
    clock_.OnSleep([&](platform::Tick) {
      if (++sleeps >= passes) thread.RequestTerminate();
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

TEST_F(ReceiveThreadTest, PostsOneChunkPerReadAndDropsChunksWhileTheSlotIsTaken) {
  fake_->QueueChunk("QOV Lumo 1.0.0");
  fake_->QueueChunk("Z");
  RunPasses(3);
  EXPECT_TRUE(mailbox_.rcv_ready.load());
  EXPECT_EQ(Slot(), "QOV Lumo 1.0.0");
  EXPECT_EQ(fake_->Reads(), 3);
}

TEST_F(ReceiveThreadTest, EmptyAndFailedReadsPostNothing) {
  fake_->idle_read_result = -2;
  RunPasses(3);
  port_->Close();  // reads give -1 now
  RunPasses(3);
  EXPECT_FALSE(mailbox_.rcv_ready.load());
}

TEST_F(ReceiveThreadTest, EachPassSleepsFiftyMillisecondsFirst) {
  TComRcvThread thread(clock_, *port_, mailbox_);
  thread.RequestTerminate();
  thread.RunHere();
  EXPECT_EQ(fake_->Reads(), 0);
  RunPasses(4);
  EXPECT_EQ(clock_.NowMs(), 1000 + 4 * 50);
  EXPECT_EQ(fake_->Reads(), 4);
}

}  // namespace
}  // namespace qov::device
