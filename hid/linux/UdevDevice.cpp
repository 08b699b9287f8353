#include "UdevDevice.h"

#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace hid {
namespace {

// Largest report descriptor the kernel keeps (HID_MAX_DESCRIPTOR_SIZE).
constexpr size_t kMaxDescriptor = 4096;

struct TUdevDeviceDeleter {
  void operator()(udev_device* ADevice) const { udev_device_unref(ADevice); }
};
using TUdevDevice = std::unique_ptr<udev_device, TUdevDeviceDeleter>;

std::string Text(const char* AValue) { return AValue ? AValue : ""; }

// HID_ID of the HID parent: "BUS:VENDOR:PRODUCT", all hexadecimal.
bool ParseHidId(const char* AHidId, THidrawInfo& AOut) {
  unsigned LBus = 0, LVendor = 0, LProduct = 0;
  if (!AHidId || std::sscanf(AHidId, "%x:%x:%x", &LBus, &LVendor, &LProduct) != 3) return false;
  AOut.VendorID = static_cast<uint16_t>(LVendor);
  AOut.ProductID = static_cast<uint16_t>(LProduct);
  return true;
}

// Port, strings and version of the USB device the node belongs to.
void ReadUsbParent(udev_device* AHidraw, THidrawInfo& AOut) {
  udev_device* LUsb = udev_device_get_parent_with_subsystem_devtype(AHidraw, "usb", "usb_device");
  if (!LUsb) return;
  // The port, not HID_PHYS: HID_PHYS ("usb-0000:00:14.0-1.3/input0") holds
  // the same chain of ports behind the controller's address and the
  // interface number, and names no port at all for Bluetooth or I2C
  // devices; the USB device's name is the short form lsusb and the kernel
  // log use.
  AOut.Port = Text(udev_device_get_sysname(LUsb));
  AOut.Manufacturer = Text(udev_device_get_sysattr_value(LUsb, "manufacturer"));
  AOut.Product = Text(udev_device_get_sysattr_value(LUsb, "product"));
  const char* LBcd = udev_device_get_sysattr_value(LUsb, "bcdDevice");
  if (LBcd) AOut.Version = static_cast<uint16_t>(std::strtoul(LBcd, nullptr, 16));
}

bool Fill(udev_device* AHidraw, THidrawInfo& AOut) {
  AOut = THidrawInfo{};
  AOut.SysPath = Text(udev_device_get_syspath(AHidraw));
  AOut.DevNode = Text(udev_device_get_devnode(AHidraw));
  if (AOut.DevNode.empty()) return false;
  udev_device* LHid = udev_device_get_parent_with_subsystem_devtype(AHidraw, "hid", nullptr);
  if (!LHid) return false;
  AOut.HasIds = ParseHidId(udev_device_get_property_value(LHid, "HID_ID"), AOut);
  // The HID device's name ends in a sequence number the kernel raises on
  // every plug-in ("0003:2047:0200.0007"): the same node name after a
  // re-plug still gives a new identity.
  AOut.IdentityKey = Text(udev_device_get_sysname(LHid)) + "/" + Text(udev_device_get_sysname(AHidraw));
  ReadUsbParent(AHidraw, AOut);
  if (AOut.Product.empty()) AOut.Product = Text(udev_device_get_property_value(LHid, "HID_NAME"));
  return true;
}

}  // namespace

std::vector<THidrawInfo> ListHidraw(udev* AUdev) {
  std::vector<THidrawInfo> LOut;
  udev_enumerate* LEnum = udev_enumerate_new(AUdev);
  if (!LEnum) return LOut;
  udev_enumerate_add_match_subsystem(LEnum, "hidraw");
  udev_enumerate_scan_devices(LEnum);
  udev_list_entry* LEntry;
  udev_list_entry_foreach(LEntry, udev_enumerate_get_list_entry(LEnum)) {
    THidrawInfo LInfo;
    if (ReadHidrawInfo(AUdev, udev_list_entry_get_name(LEntry), LInfo)) LOut.push_back(std::move(LInfo));
  }
  udev_enumerate_unref(LEnum);
  return LOut;
}

bool ReadHidrawInfo(udev* AUdev, const std::string& ASysPath, THidrawInfo& AOut) {
  TUdevDevice LDevice(udev_device_new_from_syspath(AUdev, ASysPath.c_str()));
  return LDevice && Fill(LDevice.get(), AOut);
}

std::vector<uint8_t> ReadReportDescriptor(udev* AUdev, const std::string& ASysPath) {
  TUdevDevice LDevice(udev_device_new_from_syspath(AUdev, ASysPath.c_str()));
  if (!LDevice) return {};
  udev_device* LHid = udev_device_get_parent_with_subsystem_devtype(LDevice.get(), "hid", nullptr);
  if (!LHid) return {};
  const std::string LPath = Text(udev_device_get_syspath(LHid)) + "/report_descriptor";
  const int LFd = ::open(LPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (LFd < 0) return {};
  std::vector<uint8_t> LData(kMaxDescriptor);
  size_t LFilled = 0;
  for (;;) {
    const ssize_t LRead = ::read(LFd, LData.data() + LFilled, LData.size() - LFilled);
    if (LRead <= 0 || (LFilled += static_cast<size_t>(LRead)) == LData.size()) break;
  }
  ::close(LFd);
  LData.resize(LFilled);
  return LData;
}

}  // namespace hid
