#include "platform/serial_device_map.h"

namespace qov::platform {

std::vector<std::string> SerialPortsInDeviceMap(Registry& registry) {
  std::vector<std::string> ports;
  if (!registry.KeyExists(kSerialDeviceMapKey)) return ports;
  auto key = registry.Open(kSerialDeviceMapKey, false);
  if (!key) return ports;
  // Only the data names a port; the value names are driver device names.
  for (const std::string& name : key->ValueNames()) {
    const auto value = key->Read(name);
    if (value && value->type == RegValue::Type::String) ports.push_back(value->text);
  }
  return ports;
}

}  // namespace qov::platform
