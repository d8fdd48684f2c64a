#include "platform/serial_device_map.h"

#include <gtest/gtest.h>

#include "device/com_port.h"
#include "platform/memory_registry.h"

namespace qov::platform {
namespace {

TEST(SerialDeviceMap, ListsStringDataInOrderAndSkipsOtherTypes) {
  MemoryRegistry reg;
  reg.SetString(kSerialDeviceMapKey, "\\Device\\Serial0", "COM1");
  reg.SetBinary(kSerialDeviceMapKey, "\\Device\\Odd");
  reg.SetDword(kSerialDeviceMapKey, "\\Device\\Number", 3);
  reg.SetString(kSerialDeviceMapKey, "\\Device\\Serial2", "COM3");
  EXPECT_EQ(SerialPortsInDeviceMap(reg), (std::vector<std::string>{"COM1", "COM3"}));
}

TEST(SerialDeviceMap, MissingKeyListsNothing) {
  MemoryRegistry reg;
  EXPECT_TRUE(SerialPortsInDeviceMap(reg).empty());
}

TEST(SerialDeviceMap, PresenceIsAnExactCaseSensitiveMatchOfTheData) {
  MemoryRegistry reg;
  for (const char* data : {"com3", "COM3 ", "COM30"}) reg.SetString(kSerialDeviceMapKey, data, data);
  const auto listed = SerialPortsInDeviceMap(reg);
  EXPECT_FALSE(device::PortListed(listed, "COM3"));
  EXPECT_FALSE(device::PortListed(listed, ""));
  reg.SetString(kSerialDeviceMapKey, "\\Device\\Serial9", "");
  reg.SetString(kSerialDeviceMapKey, "COM3", "COM4");  // value names are not looked at
  const auto more = SerialPortsInDeviceMap(reg);
  EXPECT_TRUE(device::PortListed(more, ""));
  EXPECT_FALSE(device::PortListed(more, "COM3"));
  EXPECT_TRUE(device::PortListed(more, "COM4"));
}

}  // namespace
}  // namespace qov::platform
