// What udev and sysfs tell about one hidraw node, read without opening the
// node: identity, strings and the report descriptor. Devices the user may
// not open (keyboards, mice) are identified this way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct udev;

namespace hid {

struct THidrawInfo {
  std::string SysPath;      // /sys/.../hidraw/hidrawN
  std::string DevNode;      // /dev/hidrawN
  std::string IdentityKey;  // changes when the device is plugged in again
  bool HasIds = false;      // vendor and product known
  uint16_t VendorID = 0;
  uint16_t ProductID = 0;
  uint16_t Version = 0;
  std::string Manufacturer;
  std::string Product;
  // The USB device's name under its bus ("1-1.3": bus 1, root port 1, port
  // 3 of the hub there), which the kernel derives from the chain of ports
  // alone; empty for a device that is not on USB.
  std::string Port;
};

// Every hidraw node present, in udev's order.
std::vector<THidrawInfo> ListHidraw(udev* AUdev);
// One node by its sysfs path; false when it is gone.
bool ReadHidrawInfo(udev* AUdev, const std::string& ASysPath, THidrawInfo& AOut);
// The raw report descriptor of the node's HID device; empty when unreadable.
std::vector<uint8_t> ReadReportDescriptor(udev* AUdev, const std::string& ASysPath);

}  // namespace hid
