// A serial port that can be pulled out and put back: while unplugged, every
// open fails and every read and write fails at once (-2), as a USB adapter
// or a pty whose other end closed does. Otherwise it passes everything to a
// FakeSerialPort, so a FakeDevice answers through it as usual.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/serial_port.h"
#include "support/fake_serial_port.h"

namespace qov::test {

class UnpluggableSerialPort final : public platform::SerialPort {
 public:
  explicit UnpluggableSerialPort(platform::Clock& clock) : inner_(std::make_unique<FakeSerialPort>(clock)) {}

  bool Open(std::int32_t baud, const std::string& device_path) override {
    if (unplugged) {
      failed_opens_++;
      return false;
    }
    return inner_->Open(baud, device_path);
  }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  std::int32_t Read(std::uint8_t* buffer, std::int32_t count) override {
    return unplugged ? -2 : inner_->Read(buffer, count);
  }
  std::int32_t Write(const std::uint8_t* buffer, std::int32_t count) override {
    if (unplugged) {
      failed_writes_++;
      return -2;
    }
    return inner_->Write(buffer, count);
  }
  void InterruptRead() override { inner_->InterruptRead(); }

  FakeSerialPort& inner() { return *inner_; }
  int FailedWrites() const { return failed_writes_.load(); }
  int FailedOpens() const { return failed_opens_.load(); }

  // Set by the test at any moment; read by the port's users.
  std::atomic<bool> unplugged{false};

 private:
  std::unique_ptr<FakeSerialPort> inner_;
  std::atomic<int> failed_writes_{0};
  std::atomic<int> failed_opens_{0};
};

}  // namespace qov::test
