// The serial ports that the Windows device map lists: the data of every
// string value under HARDWARE\DEVICEMAP\SERIALCOMM, in enumeration order.
#pragma once

#include <string>
#include <vector>

#include "platform/registry.h"

namespace qov::platform {

inline constexpr const char* kSerialDeviceMapKey = "\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Values whose data is not a string name no port and are skipped.
std::vector<std::string> SerialPortsInDeviceMap(Registry& registry);

}  // namespace qov::platform
