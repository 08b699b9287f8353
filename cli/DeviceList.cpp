#include "DeviceList.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint16_t kBslVendorID = 0x2047;  // TI
constexpr uint16_t kBslProductID = 0x0200;  // the USB bootstrap loader

std::string OrNone(const std::string& AText) { return AText.empty() ? "(none)" : AText; }

}  // namespace

bool CanOpenForReports(TJvHidDevice& ADevice, std::string& AReason) {
  ADevice.CloseFile();  // the names may have left a query-only handle open
  errno = 0;
  // Without read and write access the device object falls back to a handle
  // that only tells identity and names: no reports go through it.
  if (ADevice.OpenFile() && ADevice.HasReadWriteAccess()) return true;
  const int error = errno;
  std::string reason = "cannot be opened for reading and writing";
  if (error != 0) reason += std::string(": ") + std::strerror(error);
  if (error == EACCES) reason += " (this user may not use the device node)";
  if (error == EBUSY) reason += " (another program holds it)";
  AReason = reason;
  return false;
}

int ListDevices(TJvHidDeviceController& AController, std::ostream& AOut) {
  int count = 0;
  bool loaderSeen = false;
  AController.OnEnumerate = [&](TJvHidDevice* ADevice, int) {
    std::string reason;
    const hid::THidAttributes& a = ADevice->Attributes();
    char id[16];
    std::snprintf(id, sizeof id, "%04X:%04X", a.VendorID, a.ProductID);
    const bool loader = a.VendorID == kBslVendorID && a.ProductID == kBslProductID;
    loaderSeen = loaderSeen || loader;
    AOut << id << "  " << OrNone(ADevice->VendorName()) << " / " << OrNone(ADevice->ProductName())
         << "  " << ADevice->PnPInfo().FDevicePath << "  "
         << (CanOpenForReports(*ADevice, reason) ? "can be opened" : reason)
         << (loader ? "  <- board under its loader" : "") << '\n';
    ++count;
    return true;
  };
  AController.Enumerate();
  AController.OnEnumerate = nullptr;
  if (count == 0) AOut << "No HID devices found.\n";
  if (!loaderSeen)
    AOut << "No board under its loader (2047:0200): connect it with its button pressed.\n";
  return count;
}
