// Arrival and removal of the board while the Windows controller runs: the
// system's WM_DEVICECHANGE broadcast reaches the controller's hidden
// window, whose pass lists and drops the board. A top-level window of the
// test's own records every WM_DEVICECHANGE the system sends, to show what
// was delivered.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "JvHidControllerClass.h"
#include "WineBus.h"

namespace winetest {
namespace {

// A top-level window that records the device-change messages it gets.
class TSpyWindow {
 public:
  TSpyWindow() {
    static const ATOM LClass = [] {
      WNDCLASSW LInfo{};
      LInfo.lpfnWndProc = &TSpyWindow::Proc;
      LInfo.hInstance = ::GetModuleHandleW(nullptr);
      LInfo.lpszClassName = L"KestrovaTestSpyWindow";
      return ::RegisterClassW(&LInfo);
    }();
    if (!LClass) return;
    FWindow = ::CreateWindowExW(0, L"KestrovaTestSpyWindow", L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~TSpyWindow() {
    if (FWindow) ::DestroyWindow(FWindow);
  }
  TSpyWindow(const TSpyWindow&) = delete;
  TSpyWindow& operator=(const TSpyWindow&) = delete;

  // "DBT_DEVNODES_CHANGED", "DBT_DEVICEARRIVAL", ... in the order received.
  std::vector<std::string> Seen;

 private:
  static std::string Name(WPARAM AEvent) {
    switch (AEvent) {
      case DBT_DEVNODES_CHANGED: return "DBT_DEVNODES_CHANGED";
      case DBT_DEVICEARRIVAL: return "DBT_DEVICEARRIVAL";
      case DBT_DEVICEREMOVECOMPLETE: return "DBT_DEVICEREMOVECOMPLETE";
      case DBT_DEVICEQUERYREMOVE: return "DBT_DEVICEQUERYREMOVE";
      default: return "event " + std::to_string(AEvent);
    }
  }
  static LRESULT CALLBACK Proc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
    auto* LSelf = reinterpret_cast<TSpyWindow*>(::GetWindowLongPtrW(AWindow, GWLP_USERDATA));
    if (LSelf && AMessage == WM_DEVICECHANGE) {
      std::string LText = Name(AWParam);
      const auto* LHeader = reinterpret_cast<const DEV_BROADCAST_HDR*>(ALParam);
      if ((AWParam == DBT_DEVICEARRIVAL || AWParam == DBT_DEVICEREMOVECOMPLETE) && LHeader &&
          LHeader->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        const auto* LInterface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(ALParam);
        char LName[512];
        ::WideCharToMultiByte(CP_UTF8, 0, LInterface->dbcc_name, -1, LName, sizeof LName, nullptr, nullptr);
        LText += std::string(" ") + LName;
      }
      LSelf->Seen.push_back(LText);
    }
    return ::DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
  }
  HWND FWindow = nullptr;
};

using TWineArrival = TWineBoardTest;

// Wine's plug-and-play service broadcasts DBT_DEVNODES_CHANGED to the
// top-level windows when its udev bus adds or removes the board, as
// Windows does: the controller follows with no help from the test.
TEST_F(TWineArrival, BroadcastMakesTheRunningControllerDropAndListTheBoard) {
  TSpyWindow LSpy;
  TJvHidDeviceController LController;
  std::vector<std::string> LEvents;
  int LChanges = 0;
  LController.OnArrival = [&](TJvHidDevice* D) {
    if (D->Attributes().VendorID == kBoardVendor) LEvents.push_back("arrival " + D->PnPInfo().FDevicePath);
  };
  LController.OnRemoval = [&](TJvHidDevice* D) {
    if (D->Attributes().VendorID == kBoardVendor) LEvents.push_back("removal " + D->PnPInfo().FDevicePath);
  };
  ASSERT_TRUE(PumpUntil([&] { return LEvents.size() == 1; })) << "the first pass lists the board";
  const std::string LFirstPath = LEvents[0].substr(8);
  LController.SetOnDeviceChange([&](TJvHidDeviceController*) { ++LChanges; });
  LChanges = 0;
  LSpy.Seen.clear();

  ASSERT_EQ(BoardCommand("unplug"), "none");
  EXPECT_TRUE(PumpUntil([&] { return LEvents.size() == 2; })) << "no pass after the board left";
  for (const std::string& LSeen : LSpy.Seen) std::printf("removal broadcast: %s\n", LSeen.c_str());
  EXPECT_NE(std::find(LSpy.Seen.begin(), LSpy.Seen.end(), "DBT_DEVNODES_CHANGED"), LSpy.Seen.end());
  EXPECT_EQ(LController.NumCheckedInDevices() + LController.NumCheckedOutDevices(), 2) << "Wine's keyboard and mouse";
  TJvHidDevice* LDevice = nullptr;
  EXPECT_FALSE(LController.CheckOutByID(LDevice, kBoardVendor, kBoardProduct));

  LSpy.Seen.clear();
  ASSERT_NE(BoardCommand("plug"), "none");
  EXPECT_TRUE(PumpUntil([&] { return LEvents.size() == 3; })) << "no pass after the board came";
  for (const std::string& LSeen : LSpy.Seen) std::printf("arrival broadcast: %s\n", LSeen.c_str());
  EXPECT_NE(std::find(LSpy.Seen.begin(), LSpy.Seen.end(), "DBT_DEVNODES_CHANGED"), LSpy.Seen.end());
  EXPECT_EQ(LChanges, 2);
  ASSERT_EQ(LEvents.size(), 3u);
  EXPECT_EQ(LEvents[1], "removal " + LFirstPath);
  EXPECT_EQ(LEvents[2].rfind("arrival ", 0), 0u);
  ASSERT_TRUE(LController.CheckOutByID(LDevice, kBoardVendor, kBoardProduct));
  EXPECT_TRUE(LDevice->IsPluggedIn());
  LController.CheckIn(LDevice);
}

}  // namespace
}  // namespace winetest
