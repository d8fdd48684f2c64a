// A serial port for byte-oriented I/O with fixed line settings (8 data bits,
// no parity, one stop bit). A read waits for its first byte without a limit
// and ends 50 ms after the last byte (or when the buffer is full); a write
// has a time-out of about a second. A read and a write may run at the same
// time on two threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qov::platform {

inline constexpr std::uint32_t kWriteTimeoutMs = 1000;

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // True when the port opened and its line settings were accepted; a port
  // that refused its settings is closed again.
  virtual bool Open(std::int32_t baud, const std::string& device_path) = 0;
  // Why the last Open failed, where the system said ("in use by another
  // process", ...); empty otherwise.
  virtual std::string OpenError() const { return {}; }
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Bytes read, 0 when interrupted before any came, or -2 when the read
  // fails (the other end gone). Only called while open.
  virtual std::int32_t Read(std::uint8_t* buffer, std::int32_t count) = 0;
  // Bytes written, or -2 when the write fails or cannot go out within
  // kWriteTimeoutMs. Only called while open.
  virtual std::int32_t Write(const std::uint8_t* buffer, std::int32_t count) = 0;
  // Ends a Read in progress at once (it returns what it has, 0 if nothing)
  // and makes further Reads return 0 at once, until the next Open. Safe to
  // call from any thread, open or closed.
  virtual void InterruptRead() = 0;
};

std::unique_ptr<SerialPort> MakeSystemSerialPort();

// Names of the serial ports the system lists ("COM3", ...), in its order.
std::vector<std::string> ListSerialPorts();

// The path handed to Open for a configured port name ("\\.\COM3" on Windows).
std::string SerialDevicePath(const std::string& port_name);

}  // namespace qov::platform
