#include "DeviceList.h"

#include <algorithm>
#include <string>

#include "BoardIds.h"
#include "HexText.h"

namespace {

std::string OrNone(const std::string& AText) { return AText.empty() ? "(none)" : AText; }

// Whether the update could open the device, and why not (the backend's
// advice only for the board: it is about the board).
void CheckOpen(TJvHidDevice& ADevice, TDeviceSeen& ASeen) {
  ASeen.CanOpen = ADevice.OpenReadWrite();
  if (ASeen.CanOpen) return;
  const TJvHidDeviceError error = ADevice.LastError();
  ASeen.WhyNot = (error.Reason.empty() ? std::string("unknown reason") : error.Reason) + " (error " +
                 std::to_string(error.Code) + ")";
  if (ASeen.Board && !error.Hint.empty()) ASeen.WhyNot += ". " + error.Hint;
}

std::string LineOf(const TDeviceSeen& ADevice) {
  if (!ADevice.Identified) return "????:????  " + ADevice.Node + "  left out: " + ADevice.WhyNot;
  return Hex4(ADevice.VendorID) + ":" + Hex4(ADevice.ProductID) + "  " + OrNone(ADevice.VendorName) + " / " +
         OrNone(ADevice.ProductName) + "  " + ADevice.Node + "  " +
         (ADevice.Port.empty() ? "port unknown" : "port " + ADevice.Port) + "  " +
         (ADevice.CanOpen ? "can be opened" : "cannot be opened for reading and writing: " + ADevice.WhyNot) +
         (ADevice.Board ? "  <- board under its loader" : "");
}

}  // namespace

std::vector<TDeviceSeen> SeenDevices(TJvHidDeviceController& AController,
                                     const std::vector<TSkippedDevice>& ASkipped) {
  std::vector<TDeviceSeen> seen;
  AController.OnEnumerate = [&](TJvHidDevice* ADevice, int) {
    TDeviceSeen device;
    const hid::THidAttributes& a = ADevice->Attributes();
    device.VendorID = a.VendorID;
    device.ProductID = a.ProductID;
    device.VendorName = ADevice->VendorName();
    device.ProductName = ADevice->ProductName();
    device.Node = ADevice->PnPInfo().FDevicePath;
    device.Port = ADevice->PnPInfo().FPort;
    device.Board = IsBslBoard(a.VendorID, a.ProductID);
    CheckOpen(*ADevice, device);
    seen.push_back(device);
    return true;
  };
  AController.Enumerate();
  AController.OnEnumerate = nullptr;
  for (const TSkippedDevice& skipped : ASkipped) {
    TDeviceSeen device;
    device.Identified = false;
    device.Node = skipped.Path;
    device.WhyNot = skipped.Reason;
    seen.push_back(device);
  }
  return seen;
}

void ListDevices(const std::vector<TDeviceSeen>& ADevices, std::ostream& AOut) {
  for (const TDeviceSeen& device : ADevices) AOut << LineOf(device) << '\n';
  if (std::none_of(ADevices.begin(), ADevices.end(), [](const TDeviceSeen& ADevice) { return ADevice.Identified; }))
    AOut << "No HID devices found.\n";
  if (std::none_of(ADevices.begin(), ADevices.end(), [](const TDeviceSeen& ADevice) { return ADevice.Board; }))
    AOut << "No board under its loader (" << Hex4(kBslVendorID) << ":" << Hex4(kBslProductID)
         << "): connect it with its button pressed.\n";
}
