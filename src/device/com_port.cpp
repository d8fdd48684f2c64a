#include "device/com_port.h"

#include <algorithm>

namespace qov::device {

TComPort::TComPort(std::unique_ptr<platform::SerialPort> port) : port_(std::move(port)) {}
TComPort::TComPort() : TComPort(platform::MakeSystemSerialPort()) {}
TComPort::~TComPort() { Close(); }

bool TComPort::Open(std::int32_t baud, const std::string& device_path) { return port_->Open(baud, device_path); }

void TComPort::Close() {
  if (port_->IsOpen()) port_->Close();
}

std::int32_t TComPort::Read(std::uint8_t* buffer, std::int32_t count) {
  if (!port_->IsOpen()) return -1;
  return port_->Read(buffer, count);
}

std::int32_t TComPort::Write(const std::uint8_t* buffer, std::int32_t count) {
  if (!port_->IsOpen()) return -1;
  return port_->Write(buffer, count);
}

bool PortListed(const std::vector<std::string>& listed, const std::string& name) {
  return std::find(listed.begin(), listed.end(), name) != listed.end();
}

bool ComPortPresent(const std::string& name) { return PortListed(platform::ListSerialPorts(), name); }

}  // namespace qov::device
