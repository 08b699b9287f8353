// The loader exchange through the loader client on the Windows backend, in
// front of the board on Wine's HID bus: a refused and an accepted password,
// a fast write of a loader image into RAM over several reports, Load PC
// with the board's return as a new device, the version query and a read
// back on the RAM loader.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "HexText.h"
#include "JvHidControllerClass.h"
#include "WineBus.h"
#include "bsl_hid.h"

namespace winetest {
namespace {

constexpr uint32_t kImageStart = 0x2500;  // in RAM (0x2400-0x43FF)
constexpr size_t kImageLength = 150;      // three fast writes of at most 58 bytes
constexpr size_t kReadBack = 50;          // one answer report

// The board's events in the controller, by path.
struct TBoardEvents {
  std::vector<std::string> Arrivals, Removals;
  void Attach(TJvHidDeviceController& AController) {
    AController.OnArrival = [this](TJvHidDevice* D) {
      if (D->Attributes().VendorID == kBoardVendor) Arrivals.push_back(D->PnPInfo().FDevicePath);
    };
    AController.OnRemoval = [this](TJvHidDevice* D) {
      if (D->Attributes().VendorID == kBoardVendor) Removals.push_back(D->PnPInfo().FDevicePath);
    };
  }
};

using TWineLoader = TWineBoardTest;

TEST_F(TWineLoader, PasswordsFastWriteLoadPcVersionAndReadBackThroughTheLoaderClient) {
  TJvHidDeviceController LController(nullptr, &hid::OsPlatform());
  TBoardEvents LEvents;
  LEvents.Attach(LController);
  ASSERT_TRUE(PumpUntil([&] { return LEvents.Arrivals.size() == 1; }));
  TJvHidDevice* LDevice = nullptr;
  ASSERT_TRUE(LController.CheckOutByID(LDevice, kBoardVendor, kBoardProduct));
  std::vector<std::string> LLog;
  TBsl LBsl;
  LBsl.SetOnLogMsg([&](int32_t, TMessageType, const std::string& AText, TColor) { LLog.push_back(AText); });
  LBsl.SetHidDev(LDevice);

  // A wrong password is refused, and costs the board its main flash.
  TBsl_PasswordData LPassword{};
  EXPECT_FALSE(LBsl.cmd_SendPassword(LPassword));
  EXPECT_EQ(BoardCommand("memory FFE0 32"), std::string(64, 'F'));
  // The erased vector table is the password now.
  LPassword.fill(0xFF);
  EXPECT_TRUE(LBsl.cmd_SendPassword(LPassword));

  std::vector<uint8_t> LImage(kImageLength);
  for (size_t I = 0; I < LImage.size(); ++I) LImage[I] = static_cast<uint8_t>(0x40 + I * 7);
  const int LReportsBefore = std::stoi(BoardCommand("reports"));
  EXPECT_TRUE(LBsl.cmd_WriteHexFast(kImageStart, LImage));
  EXPECT_EQ(std::stoi(BoardCommand("reports")), LReportsBefore + 3) << "58 bytes a report";
  EXPECT_EQ(BoardCommand("memory 2500 150"), HexText(LImage, true));

  // Load PC into the image: the board leaves and comes back as a new
  // device with the RAM loader; the broadcasts drive the controller.
  LBsl.cmd_LoadPC(kImageStart);
  ASSERT_TRUE(PumpUntil([&] { return LEvents.Removals.size() >= 1 && LEvents.Arrivals.size() == 2; }))
      << "the board did not come back as a new device";
  EXPECT_EQ(BoardCommand("state"), "ram");
  EXPECT_FALSE(LDevice->IsPluggedIn());
  LController.CheckIn(LDevice);
  ASSERT_TRUE(LController.CheckOutByID(LDevice, kBoardVendor, kBoardProduct));
  EXPECT_TRUE(LDevice->IsPluggedIn());
  LBsl.SetHidDev(LDevice);

  LLog.clear();
  EXPECT_TRUE(LBsl.cmd_TxBslVersion());
  const std::string LVersionAnswer = "rx[64]: 3F 05 3A 00 06 00 36 ";
  EXPECT_NE(std::find_if(LLog.begin(), LLog.end(),
                         [&](const std::string& L) { return L.rfind(LVersionAnswer, 0) == 0; }),
            LLog.end())
      << "the RAM loader's version";
  TBytes LBack;
  ASSERT_TRUE(LBsl.cmd_ReadHex(kImageStart, kReadBack, LBack));
  ASSERT_EQ(LBack.size(), kBoardReport);
  EXPECT_EQ(std::vector<uint8_t>(LBack.begin(), LBack.begin() + 3),
            (std::vector<uint8_t>{kBoardReportId, 1 + kReadBack, 0x3A}));
  EXPECT_EQ(std::vector<uint8_t>(LBack.begin() + 3, LBack.begin() + 3 + kReadBack),
            std::vector<uint8_t>(LImage.begin(), LImage.begin() + kReadBack));
  LController.CheckIn(LDevice);
}

}  // namespace
}  // namespace winetest
