// How the main window learns about HID devices: it logs every arrival and
// removal, and brings up the settings page when a board under its loader
// arrives.
#include <QStackedWidget>

#include "BoardIds.h"
#include "HexText.h"
#include "ufKestrovaLoader_Main.h"

namespace {

bool IsCompatible(TJvHidDevice* AHidDev) {
  const hid::THidAttributes& a = AHidDev->Attributes();
  return IsBslBoard(a.VendorID, a.ProductID);
}

std::string IdentifierLine(const char* APrefix, TJvHidDevice* AHidDev) {
  const hid::THidAttributes& a = AHidDev->Attributes();
  return std::string(APrefix) + "VID: " + Hex4(a.VendorID) + ", PID: " + Hex4(a.ProductID);
}

std::string NamesLine(TJvHidDevice* AHidDev) {
  return "  - " + AHidDev->VendorName() + " / " + AHidDev->ProductName();
}

}  // namespace

void TfKestrovaLoader_Main::HidCtl1Arrival(TJvHidDevice* HidDev) {
  if (IsCompatible(HidDev)) {
    LogMsg(4, mtSystem, "Detected compatible HID device: ", clGreen);
    LogMsg(4, mtSystem, "  - Velmora device", clGreen);
    LogMsg(4, mtSystem, IdentifierLine("  - ", HidDev), clGreen);
    pgc1->setCurrentWidget(ts2);
  } else {
    LogMsg(5, mtSystem, "Detected not compatible HID device: ", clGray);
    LogMsg(5, mtSystem, NamesLine(HidDev), clGray);
    LogMsg(5, mtSystem, IdentifierLine("  - ", HidDev), clGray);
  }
}

void TfKestrovaLoader_Main::HidCtl1Removal(TJvHidDevice* HidDev) {
  LogMsg(6, mtSystem, "Device removed:", clMaroon);
  LogMsg(6, mtSystem, NamesLine(HidDev), clMaroon);
  LogMsg(6, mtSystem, IdentifierLine("  - ", HidDev), clMaroon);
}

bool TfKestrovaLoader_Main::HidCtl1Enumerate(TJvHidDevice* HidDev, int Idx) {
  (void)Idx;
  HidCtl1Arrival(HidDev);
  return true;
}

// Logged once per device; the board beside it is still found.
void TfKestrovaLoader_Main::HidCtl1DeviceSkipped(const TJvHidPnPInfo& AInfo, const std::string& AReason) {
  LogMsg(5, mtSystem, "HID device left out: " + AInfo.FDevicePath, clGray);
  LogMsg(5, mtSystem, "  - " + AReason, clGray);
}
