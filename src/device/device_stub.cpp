// Placeholder bodies until the device link is built.
#include "device/control_thread.h"

namespace qov::device {

TComPort::TComPort(std::unique_ptr<platform::SerialPort> port) : port_(std::move(port)) {}
TComPort::TComPort() : TComPort(nullptr) {}
TComPort::~TComPort() = default;
bool TComPort::Open(std::int32_t, const std::string&) { return false; }
void TComPort::Close() {}
std::int32_t TComPort::Read(std::uint8_t*, std::int32_t) { return -1; }
std::int32_t TComPort::Write(const std::uint8_t*, std::int32_t) { return -1; }
bool ComPortPresent(const std::string&) { return false; }

TComRcvThread::TComRcvThread(platform::Clock& clock, TComPort& port, RcvMailbox& mailbox)
    : clock_(clock), port_(port), mailbox_(mailbox) {}
void TComRcvThread::Execute() {}

TQOVControlThread::TQOVControlThread(DeviceContext ctx) : ctx_(std::move(ctx)) {}
void TQOVControlThread::Execute() {
  while (!Terminated()) ctx_.clock.SleepMs(50);
}

}  // namespace qov::device
