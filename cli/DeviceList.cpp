#include "DeviceList.h"

#include <string>

#include "BoardIds.h"
#include "HexText.h"

namespace {

std::string OrNone(const std::string& AText) { return AText.empty() ? "(none)" : AText; }

std::string PortText(const TJvHidPnPInfo& AInfo) {
  return AInfo.FPort.empty() ? "port unknown" : "port " + AInfo.FPort;
}

// Whether the update could open the device, as the list shows it (the
// backend's advice only for the board: it is about the board).
std::string OpenText(TJvHidDevice& ADevice, bool ABoard) {
  if (ADevice.OpenReadWrite()) return "can be opened";
  const TJvHidDeviceError error = ADevice.LastError();
  std::string text = "cannot be opened for reading and writing: " +
                     (error.Reason.empty() ? std::string("unknown reason") : error.Reason) + " (error " +
                     std::to_string(error.Code) + ")";
  if (ABoard && !error.Hint.empty()) text += ". " + error.Hint;
  return text;
}

}  // namespace

int ListDevices(TJvHidDeviceController& AController, const std::vector<TSkippedDevice>& ASkipped,
                std::ostream& AOut) {
  int count = 0;
  bool loaderSeen = false;
  AController.OnEnumerate = [&](TJvHidDevice* ADevice, int) {
    const hid::THidAttributes& a = ADevice->Attributes();
    const std::string id = Hex4(a.VendorID) + ":" + Hex4(a.ProductID);
    const bool loader = IsBslBoard(a.VendorID, a.ProductID);
    loaderSeen = loaderSeen || loader;
    AOut << id << "  " << OrNone(ADevice->VendorName()) << " / " << OrNone(ADevice->ProductName())
         << "  " << ADevice->PnPInfo().FDevicePath << "  " << PortText(ADevice->PnPInfo()) << "  "
         << OpenText(*ADevice, loader)
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
