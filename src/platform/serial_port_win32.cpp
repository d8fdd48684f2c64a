// Win32 backend: a COM port handle opened for overlapped I/O at 8N1, with a
// read that waits for its first byte without a limit and ends 50 ms after
// the last one (an interval time-out and no total), and a bounded write. Overlapped I/O lets the control thread's write go out while the
// receive thread's read is pending (a synchronous handle would queue it
// behind the read on Windows).
#include "platform/serial_device_map.h"
#include "platform/serial_port.h"
#include "platform/win32.h"
#include "platform/win32_handle.h"

namespace qov::platform {
namespace {

// Extra time, beyond the driver's own write time-out, before a write that
// has not completed is cancelled.
constexpr DWORD kWriteGraceMs = 250;

// A read that its time-outs (or an interrupt) ended with what had arrived:
// Windows reports it as a success, Wine as a time-out error.
bool EndedByTimeOut(DWORD error) {
  return error == ERROR_SEM_TIMEOUT || error == WAIT_TIMEOUT || error == ERROR_TIMEOUT ||
         error == ERROR_OPERATION_ABORTED;
}

class Win32SerialPort final : public SerialPort {
 public:
  Win32SerialPort()
      : read_done_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        write_done_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        interrupt_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

  bool Open(std::int32_t baud, const std::string& device_path) override {
    if (!read_done_ || !write_done_ || !interrupt_) return false;
    ::ResetEvent(interrupt_.get());
    handle_.reset(::CreateFileA(device_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
    if (!handle_) return false;
    if (!Configure(baud)) {
      Close();
      return false;
    }
    return true;
  }

  void Close() override { handle_.reset(); }
  bool IsOpen() const override { return static_cast<bool>(handle_); }

  std::int32_t Read(std::uint8_t* buffer, std::int32_t count) override {
    if (::WaitForSingleObject(interrupt_.get(), 0) == WAIT_OBJECT_0) return 0;
    OVERLAPPED ov{};
    ov.hEvent = read_done_.get();
    ::ResetEvent(ov.hEvent);
    DWORD done = 0;
    if (!::ReadFile(handle_.get(), buffer, static_cast<DWORD>(count), &done, &ov)) {
      if (::GetLastError() != ERROR_IO_PENDING) return -2;
      // The driver completes the read by its time-outs; an interrupt cancels it.
      const HANDLE waits[2] = {read_done_.get(), interrupt_.get()};
      if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) ::CancelIo(handle_.get());
      if (!::GetOverlappedResult(handle_.get(), &ov, &done, TRUE) && !EndedByTimeOut(::GetLastError())) return -2;
    }
    return static_cast<std::int32_t>(done);
  }

  std::int32_t Write(const std::uint8_t* buffer, std::int32_t count) override {
    OVERLAPPED ov{};
    ov.hEvent = write_done_.get();
    ::ResetEvent(ov.hEvent);
    DWORD done = 0;
    if (!::WriteFile(handle_.get(), buffer, static_cast<DWORD>(count), &done, &ov)) {
      if (::GetLastError() != ERROR_IO_PENDING) return -2;
      // The driver's write time-out should end it; the own bound holds where
      // a driver ignores that time-out.
      if (::WaitForSingleObject(write_done_.get(), kWriteTimeoutMs + kWriteGraceMs) != WAIT_OBJECT_0) {
        ::CancelIo(handle_.get());
      }
      if (!::GetOverlappedResult(handle_.get(), &ov, &done, TRUE)) return -2;
    }
    // A write time-out completes the request with fewer bytes.
    if (done < static_cast<DWORD>(count)) return -2;
    return static_cast<std::int32_t>(done);
  }

  void InterruptRead() override {
    if (interrupt_) ::SetEvent(interrupt_.get());
  }

 private:
  // Line settings, time-outs, queues and a purge; any of them failing fails the open.
  bool Configure(std::int32_t baud) {
    // Only these six fields change; flow control, DTR/RTS and the rest keep
    // the driver's values.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_.get(), &dcb)) return false;
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0;
    dcb.XoffChar = 0;
    if (!::SetCommState(handle_.get(), &dcb)) return false;

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 50;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    return ::SetCommTimeouts(handle_.get(), &timeouts) && ::SetupComm(handle_.get(), 128, 128) &&
           ::PurgeComm(handle_.get(), PURGE_TXCLEAR | PURGE_RXCLEAR);
  }

  UniqueFileHandle handle_;
  // One event per direction, so a read and a write can be pending together.
  UniqueHandle read_done_;
  UniqueHandle write_done_;
  // Set by InterruptRead on any thread; reset by Open.
  UniqueHandle interrupt_;
};

}  // namespace

std::unique_ptr<SerialPort> MakeSystemSerialPort() { return std::make_unique<Win32SerialPort>(); }

std::vector<std::string> ListSerialPorts() { return SerialPortsInDeviceMap(SystemRegistry()); }

std::string SerialDevicePath(const std::string& port_name) { return "\\\\.\\" + port_name; }

}  // namespace qov::platform
