#include "device/link_protocol.h"

#include <gtest/gtest.h>

#include <atomic>

#include <string>

#include "support/fake_clock.h"
#include "support/fake_device.h"
#include "support/fake_serial_port.h"

namespace qov::device {
namespace {

bool Id(const std::string& s) { return IsIdentification(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }
bool Ack(const std::string& s) {
  return IsAcknowledgement(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

TEST(ReplyRules, IdentificationOfEitherModelAtItsMinimumLength) {
  EXPECT_TRUE(Id("QOV Lumo 1.0.0"));       // 14
  EXPECT_FALSE(Id("QOV Lumo 1.00"));       // 13
  EXPECT_TRUE(Id("QOV Vesperin 2.0.0"));   // 18
  EXPECT_FALSE(Id("QOV Vesperin 2.00"));   // 17
  EXPECT_FALSE(Id("QOV Vesperin 2"));      // 14: matches neither rule
  EXPECT_FALSE(Id("QOV LumoX1.0.0"));      // the blank belongs to the prefix
  EXPECT_FALSE(Id("qov lumo 1.0.0"));
  EXPECT_TRUE(Id("QOV Lumo " + std::string(119, 'x')));  // a full slot
}

TEST(ReplyRules, AcknowledgementIsExactlyOneCapitalZ) {
  EXPECT_TRUE(Ack("Z"));
  EXPECT_FALSE(Ack("z"));
  EXPECT_FALSE(Ack("ZZ"));
  EXPECT_FALSE(Ack("Z\r"));
  EXPECT_FALSE(Ack(""));
}

TEST(ReplyRules, FrameIsQovAndTheCode) {
  const auto frame = MakeFrame(CMD_PC_RESET);
  EXPECT_EQ(std::string(frame.begin(), frame.begin() + 3), "QOV");
  EXPECT_EQ(frame[3], 0xAE);
}

class ExchangeTest : public ::testing::Test {
 protected:
  ExchangeTest() {
    auto fake = std::make_unique<test::FakeSerialPort>(clock_);
    fake_ = fake.get();
    port_ = std::make_unique<TComPort>(std::move(fake));
    port_->Open(9600, "COM3");
    device_ = std::make_unique<test::FakeDevice>(clock_, *fake_, mailbox_);
    link_ = std::make_unique<DeviceLink>(clock_, *port_, mailbox_, stop_);
  }

  test::FakeClock clock_;
  test::FakeSerialPort* fake_;
  std::unique_ptr<TComPort> port_;
  RcvMailbox mailbox_;
  std::unique_ptr<test::FakeDevice> device_;
  platform::StopRequest stop_;
  std::unique_ptr<DeviceLink> link_;
};

TEST_F(ExchangeTest, PromptAnswersSucceedAtTheFirstAttempt) {
  EXPECT_TRUE(link_->CheckDeviceVersion());
  EXPECT_TRUE(link_->SendDeviceCommand(CMD_TIMER_INIT));
  EXPECT_EQ(fake_->Codes(), (std::vector<int>{1, 3}));
  EXPECT_TRUE(mailbox_.rcv_ready.load());  // the accepted reply stays in the slot
  EXPECT_FALSE(link_->exchange_busy);
}

TEST_F(ExchangeTest, VesperinIdentificationIsAccepted) {
  device_->Answer(CMD_VERSION, test::FakeDevice::Reply{{"QOV Vesperin 2.0.0"}, 0});
  EXPECT_TRUE(link_->CheckDeviceVersion());
}

TEST_F(ExchangeTest, SilentDeviceCostsFiveAttemptsOfHalfASecond) {
  device_->Silent();
  const auto start = clock_.NowMs();
  EXPECT_FALSE(link_->SendDeviceCommand(CMD_LIFE_MESSAGE));
  EXPECT_EQ(clock_.NowMs() - start, 2500);
  const auto frames = fake_->WrittenFrames();
  ASSERT_EQ(frames.size(), 5u);
  for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[i].at - frames[i - 1].at, 500);
  EXPECT_FALSE(link_->exchange_busy);
}

TEST_F(ExchangeTest, WrongAcknowledgementsAreNoAcknowledgement) {
  for (const char* reply : {"z", "ZZ", "Zq"}) {
    device_->AnswerAll(test::FakeDevice::Reply{{reply}, 0});
    EXPECT_FALSE(link_->SendDeviceCommand(CMD_TIMER_INIT)) << reply;
  }
}

TEST_F(ExchangeTest, ShortIdentificationIsRejected) {
  device_->Answer(CMD_VERSION, test::FakeDevice::Reply{{"QOV Lumo 1.0"}, 0});
  EXPECT_FALSE(link_->CheckDeviceVersion());
  EXPECT_EQ(fake_->Codes().size(), 5u);
}

TEST_F(ExchangeTest, WrongChunkIsDiscardedAndTheAttemptWaitsOn) {
  // Wrong at once on every write, the right one 200 ms later: the wrong one
  // is dropped at once, and the right one still ends the first attempt.
  device_->AnswerAll(test::FakeDevice::Reply{{"?"}, 0});
  const auto start = clock_.NowMs();
  EXPECT_FALSE(link_->SendDeviceCommand(CMD_TIMER_INIT));
  EXPECT_EQ(clock_.NowMs() - start, 5 * 500);
  device_->AnswerAll(test::FakeDevice::Reply{{"?", "Z"}, 0});
  EXPECT_TRUE(link_->SendDeviceCommand(CMD_TIMER_INIT));
  EXPECT_EQ(fake_->Codes().size(), 6u);
}

TEST_F(ExchangeTest, StaleChunkInTheSlotIsDiscardedBeforeTheFirstWrite) {
  device_->Post("Z");  // left over from before
  device_->Silent();
  EXPECT_FALSE(link_->SendDeviceCommand(CMD_TIMER_INIT));
  EXPECT_EQ(fake_->Codes().size(), 5u);
}

TEST_F(ExchangeTest, LateAcknowledgementCountsForTheCurrentAttempt) {
  // The ack for attempt 1 arrives 700 ms later, inside attempt 2's window.
  device_->AnswerAll(test::FakeDevice::Reply{{"Z"}, 700});
  device_->Answer(CMD_VERSION, std::nullopt);
  EXPECT_TRUE(link_->SendDeviceCommand(CMD_LIFE_MESSAGE));
  EXPECT_EQ(fake_->Codes().size(), 2u);
}

TEST_F(ExchangeTest, SplitIdentificationIsJudgedChunkByChunk) {
  device_->Answer(CMD_VERSION, test::FakeDevice::Reply{{"QOV Lu", "mo 1.0.0"}, 0});
  EXPECT_FALSE(link_->CheckDeviceVersion());
  // A first chunk that alone fulfils the rule is enough.
  device_->Answer(CMD_VERSION, test::FakeDevice::Reply{{"QOV Lumo 1.0.0", "tail"}, 0});
  EXPECT_TRUE(link_->CheckDeviceVersion());
}

// A stop ends an identification at once; nothing more is sent. A command
// that must get its answer goes on waiting.
TEST_F(ExchangeTest, StopEndsAnIdentificationAtOnce) {
  device_->Silent();
  clock_.OnSleep([&](platform::Tick now) {
    if (now >= 1000 + 700) stop_.Set();  // inside the second attempt
  });
  const platform::Tick start = clock_.NowMs();
  EXPECT_FALSE(link_->CheckDeviceVersion());
  EXPECT_EQ(clock_.NowMs() - start, 700);
  EXPECT_FALSE(link_->SendDeviceCommandUntilStop(CMD_LIFE_MESSAGE));
  EXPECT_FALSE(link_->SendDeviceCommand(CMD_TIMER_STOP));
  clock_.OnSleep(nullptr);
  EXPECT_EQ(clock_.NowMs() - start, 700 + 2500);
  EXPECT_EQ(fake_->Codes(), (std::vector<int>{CMD_VERSION, CMD_VERSION, CMD_TIMER_STOP, CMD_TIMER_STOP,
                                              CMD_TIMER_STOP, CMD_TIMER_STOP, CMD_TIMER_STOP}));
  EXPECT_FALSE(link_->exchange_busy);
}

TEST_F(ExchangeTest, BusyGuardSendsNothing) {
  link_->exchange_busy = true;
  EXPECT_FALSE(link_->SendDeviceCommand(CMD_TIMER_INIT));
  EXPECT_TRUE(fake_->Codes().empty());
  EXPECT_TRUE(link_->exchange_busy);
}

TEST_F(ExchangeTest, ClosedPortFailsAfterFiveAttempts) {
  port_->Close();
  EXPECT_FALSE(link_->CheckDeviceVersion());
  EXPECT_TRUE(fake_->Codes().empty());
}

}  // namespace
}  // namespace qov::device
