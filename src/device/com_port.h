// The watchdog's serial port object: open with fixed settings, read, write,
// close. Results are plain integers: -1 when no port is open, -2 when the
// platform call fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace qov::device {

class TComPort {
 public:
  explicit TComPort(std::unique_ptr<platform::SerialPort> port);
  TComPort();  // the system's serial port
  virtual ~TComPort();
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;

  bool Open(std::int32_t baud, const std::string& device_path);
  // Why the last Open failed, where the system said; empty otherwise.
  std::string OpenError() const { return port_->OpenError(); }
  void Close();
  std::int32_t Read(std::uint8_t* buffer, std::int32_t count);
  std::int32_t Write(const std::uint8_t* buffer, std::int32_t count);
  // Ends a read in progress at once; reads return 0 at once until the next
  // Open. Any thread may call it.
  void InterruptRead() { port_->InterruptRead(); }

 private:
  std::unique_ptr<platform::SerialPort> port_;
};

// True when `listed` holds exactly `name`: byte for byte, case-sensitive.
bool PortListed(const std::vector<std::string>& listed, const std::string& name);

// True when the system lists a serial port named exactly `name` (case-sensitive).
bool ComPortPresent(const std::string& name);

}  // namespace qov::device
