// Win32 backend: a synchronous COM port handle at 8N1 with the read
// time-outs 50 ms between bytes and 100 + 5 x N ms in all.
#include "platform/serial_device_map.h"
#include "platform/serial_port.h"
#include "platform/win32.h"
#include "platform/win32_handle.h"

namespace qov::platform {
namespace {

class Win32SerialPort final : public SerialPort {
 public:
  bool Open(std::int32_t baud, const std::string& device_path) override {
    handle_.reset(::CreateFileA(device_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    if (!handle_) return false;

    // Only these six fields change; flow control, DTR/RTS and the rest keep
    // the driver's values.
    DCB dcb{};
    ::GetCommState(handle_.get(), &dcb);
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0;
    dcb.XoffChar = 0;
    const bool accepted = ::SetCommState(handle_.get(), &dcb) != 0;

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 50;
    timeouts.ReadTotalTimeoutMultiplier = 5;
    timeouts.ReadTotalTimeoutConstant = 100;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    ::SetCommTimeouts(handle_.get(), &timeouts);
    ::SetupComm(handle_.get(), 128, 128);
    ::PurgeComm(handle_.get(), PURGE_TXCLEAR | PURGE_RXCLEAR);

    if (!accepted) Close();
    return accepted;
  }

  void Close() override { handle_.reset(); }
  bool IsOpen() const override { return static_cast<bool>(handle_); }

  std::int32_t Read(std::uint8_t* buffer, std::int32_t count) override {
    DWORD done = 0;
    if (!::ReadFile(handle_.get(), buffer, static_cast<DWORD>(count), &done, nullptr)) return -2;
    return static_cast<std::int32_t>(done);
  }

  std::int32_t Write(const std::uint8_t* buffer, std::int32_t count) override {
    DWORD done = 0;
    if (!::WriteFile(handle_.get(), buffer, static_cast<DWORD>(count), &done, nullptr)) return -2;
    return static_cast<std::int32_t>(done);
  }

 private:
  UniqueFileHandle handle_;
};

}  // namespace

std::unique_ptr<SerialPort> MakeSystemSerialPort() { return std::make_unique<Win32SerialPort>(); }

std::vector<std::string> ListSerialPorts() { return SerialPortsInDeviceMap(SystemRegistry()); }

std::string SerialDevicePath(const std::string& port_name) { return "\\\\.\\" + port_name; }

}  // namespace qov::platform
