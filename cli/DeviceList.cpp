#include "DeviceList.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint16_t kBslVendorID = 0x2047;  // TI
constexpr uint16_t kBslProductID = 0x0200;  // the USB bootstrap loader

std::string OrNone(const std::string& AText) { return AText.empty() ? "(none)" : AText; }

}  // namespace

bool CanOpenForReports(TJvHidDevice& ADevice, std::string& AReason, bool AWithHint) {
  if (ADevice.OpenReadWrite()) return true;
  const TJvHidDeviceError error = ADevice.LastError();
  AReason = "cannot be opened for reading and writing: " +
            (error.Reason.empty() ? std::string("unknown reason") : error.Reason) + " (error " +
            std::to_string(error.Code) + ")";
  if (AWithHint && !error.Hint.empty()) AReason += ". " + error.Hint;
  return false;
}

int ListDevices(TJvHidDeviceController& AController, const std::vector<TSkippedDevice>& ASkipped,
                std::ostream& AOut) {
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
         << (CanOpenForReports(*ADevice, reason, loader) ? "can be opened" : reason)
         << (loader ? "  <- board under its loader" : "") << '\n';
    ++count;
    return true;
  };
  AController.Enumerate();
  AController.OnEnumerate = nullptr;
  for (const TSkippedDevice& skipped : ASkipped)
    AOut << "????:????  " << skipped.Path << "  left out: " << skipped.Reason << '\n';
  if (count == 0) AOut << "No HID devices found.\n";
  if (!loaderSeen)
    AOut << "No board under its loader (2047:0200): connect it with its button pressed.\n";
  return count;
}
