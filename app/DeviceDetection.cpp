#include "DeviceDetection.h"

#include "BoardIds.h"
#include "HexText.h"

namespace {

std::string IdentifierLine(TJvHidDevice* AHidDev) {
  const hid::THidAttributes& a = AHidDev->Attributes();
  return "  - VID: " + Hex4(a.VendorID) + ", PID: " + Hex4(a.ProductID);
}

std::string NamesLine(TJvHidDevice* AHidDev) {
  return "  - " + AHidDev->VendorName() + " / " + AHidDev->ProductName();
}

}  // namespace

bool IsCompatible(TJvHidDevice* AHidDev) {
  const hid::THidAttributes& a = AHidDev->Attributes();
  return IsBslBoard(a.VendorID, a.ProductID);
}

std::vector<TDeviceLine> ArrivalLines(TJvHidDevice* AHidDev) {
  if (IsCompatible(AHidDev))
    return {{4, clGreen, "Detected compatible HID device: "},
            {4, clGreen, "  - Velmora device"},
            {4, clGreen, IdentifierLine(AHidDev)}};
  return {{5, clGray, "Detected not compatible HID device: "},
          {5, clGray, NamesLine(AHidDev)},
          {5, clGray, IdentifierLine(AHidDev)}};
}

std::vector<TDeviceLine> RemovalLines(TJvHidDevice* AHidDev) {
  return {{6, clMaroon, "Device removed:"}, {6, clMaroon, NamesLine(AHidDev)}, {6, clMaroon, IdentifierLine(AHidDev)}};
}

std::vector<TDeviceLine> SkippedLines(const TJvHidPnPInfo& AInfo, const std::string& AReason) {
  return {{5, clGray, "HID device left out: " + AInfo.FDevicePath}, {5, clGray, "  - " + AReason}};
}
