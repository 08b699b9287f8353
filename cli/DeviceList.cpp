#include "DeviceList.h"

#include <string>

#include "BoardIds.h"
#include "HexText.h"

namespace {

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
    const std::string id = Hex4(a.VendorID) + ":" + Hex4(a.ProductID);
    const bool loader = IsBslBoard(a.VendorID, a.ProductID);
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
    AOut << "No board under its loader (" << Hex4(kBslVendorID) << ":" << Hex4(kBslProductID)
         << "): connect it with its button pressed.\n";
  return count;
}
