// A whole two-stage update through the Linux backend under umockdev. The
// board's hidraw node is a pseudo-terminal; on its other side the simulated
// board's protocol answers (the board lives on a private simulated bus, and
// a bridge thread carries reports between that bus and the node). When the
// board leaves and comes back under its RAM loader, its node is removed and
// a new one appears, each with its uevent. The same update runs once more on
// the simulated bus; both runs must log the same lines, and the board's
// memory must hold the images.
#include <algorithm>
#include <regex>

#include "BoardIds.h"
#include "ImageWriter.h"
#include "UmockdevBoard.h"
#include "bsl_hid.h"

namespace {

using ::testing::ElementsAre;

constexpr auto kAfterPassword = std::chrono::milliseconds(100);
constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr auto kWaitForBoard = std::chrono::seconds(20);
constexpr auto kUpdateLimit = std::chrono::seconds(60);

// The same passwords as the update: one that erases, then the erased board's.
TBsl_PasswordData ErasePassword() {
  TBsl_PasswordData LData;
  LData.fill(0xFF);
  LData[30] = LData[31] = 0x00;
  return LData;
}

TBsl_PasswordData ErasedPassword() {
  TBsl_PasswordData LData;
  LData.fill(0xFF);
  return LData;
}

bool IsBoard(TJvHidDevice* ADevice) {
  return IsBslBoard(ADevice->Attributes().VendorID, ADevice->Attributes().ProductID);
}

// What the update worker does, on the calling thread, with AController.
// The client's log lines go to ALog.
bool RunUpdate(TJvHidDeviceController& AController, const std::string& ALoader, const std::string& AFirmware,
               std::vector<std::string>& ALog, std::mutex& ALogLock) {
  TJvHidDevice* LDevice = nullptr;
  if (!AController.CheckOutByCallback(LDevice, IsBoard)) return false;
  TBsl LBsl;
  LBsl.SetOnLogMsg([&](int32_t, TMessageType, const std::string& AText, TColor) {
    std::lock_guard<std::mutex> LGuard(ALogLock);
    ALog.push_back(AText);
  });
  bool LOk = LDevice->OpenReadWrite();
  if (LOk) {
    LBsl.SetHidDev(LDevice);
    LBsl.cmd_SendPassword(ErasePassword());
    std::this_thread::sleep_for(kAfterPassword);
    LOk = LBsl.cmd_SendPassword(ErasedPassword());
    std::this_thread::sleep_for(kAfterPassword);
    if (LOk) LOk = WriteImage(LBsl, ReadTiTxtImage(ALoader, TTiTxtImageKind::Loader), kWriteLineByLine, {});
  }
  LBsl.SetHidDev(nullptr);
  AController.CheckIn(LDevice);
  if (!LOk) return false;
  const auto LDeadline = std::chrono::steady_clock::now() + kWaitForBoard;
  while (std::chrono::steady_clock::now() < LDeadline) {
    std::this_thread::sleep_for(kPollInterval);
    if (!AController.CheckOutByCallback(LDevice, IsBoard)) continue;
    if (!LDevice->OpenFile()) {
      AController.CheckIn(LDevice);  // the old entry of the board, gone
      continue;
    }
    LBsl.SetHidDev(LDevice);
    LOk = WriteImage(LBsl, ReadTiTxtImage(AFirmware, TTiTxtImageKind::Application), kWriteLineByLine, {});
    LBsl.SetHidDev(nullptr);
    AController.CheckIn(LDevice);
    return LOk;
  }
  return false;
}

// What differs between two runs of the same update: the device addresses
// of the read completions, and how the Load PC exchange ended. The board
// leaves within milliseconds of taking Load PC, and which thread gets there
// first decides what the client saw: its read started and ended with
// "device not connected" (1167), or was refused for that reason, or the
// device was already marked gone when the write returned. Each means the
// board left; the lines from Load PC's report to the next image line become
// one line when they say so.
std::vector<std::string> Comparable(const std::vector<std::string>& ALog) {
  const std::string LLoadPc = "tx[64/4]: 3F 04 17 ";  // report ID, core length, command
  const std::regex LOvl("Ovl: [0-9]+\\)");
  const std::regex LGone(".*(ErrorCode: 1167,|\\(error 1167\\)).*");
  const auto LSaysGone = [&](const std::string& ALine) { return std::regex_match(ALine, LGone); };
  std::vector<std::string> LOut;
  for (size_t LAt = 0; LAt < ALog.size(); ++LAt) {
    LOut.push_back(std::regex_replace(ALog[LAt], LOvl, "Ovl: *)"));
    if (ALog[LAt].rfind(LLoadPc, 0) != 0) continue;
    size_t LEnd = LAt + 1;
    while (LEnd < ALog.size() && ALog[LEnd].rfind("line:", 0) != 0) ++LEnd;
    if (std::any_of(ALog.begin() + static_cast<long>(LAt) + 1, ALog.begin() + static_cast<long>(LEnd), LSaysGone)) {
      LOut.push_back("(the board left)");
      LAt = LEnd - 1;
    }
  }
  return LOut;
}

// Every report the client wrote whole ("data written: 64", also when the
// board left right after taking it) has reached the board. A write to the
// node returns once its terminal holds the report; the bridge hands it to
// the board a moment later.
bool BoardTookEveryReport(const sim::TSimBoard& ABoard, const std::vector<std::string>& ALog) {
  const std::string LWhole = " - data written: " + std::to_string(kReport);
  const auto LWritten = static_cast<uint32_t>(
      std::count_if(ALog.begin(), ALog.end(), [&](const std::string& L) { return L.find(LWhole) != std::string::npos; }));
  const auto LDeadline = std::chrono::steady_clock::now() + kWaitForBoard;
  while (ABoard.ReportsReceived() < LWritten) {
    if (std::chrono::steady_clock::now() > LDeadline) return false;
    std::this_thread::sleep_for(kBridgePoll);
  }
  return true;
}

class TLinuxUpdate : public TLinuxBackend {
 protected:
  static sim::TSimBoardOptions Quick() {
    sim::TSimBoardOptions LOptions;
    LOptions.ReturnDelayMs = 200;
    return LOptions;
  }

  void ExpectImagesIn(const sim::TSimBoard& ABoard) {
    for (const auto& [LAddress, LByte] : Images.Expected)
      ASSERT_EQ(ABoard.ReadMemory(LAddress, 1), std::vector<uint8_t>{LByte}) << "at " << LAddress;
  }

  // Runs the update on a worker while the loop delivers notifications and
  // AOnTurn does what the test bed must do on this thread.
  bool RunOnWorker(TJvHidDeviceController& AController, std::vector<std::string>& ALog,
                   const std::function<void()>& AOnTurn) {
    std::mutex LLogLock;
    std::atomic<bool> LDone{false};
    bool LOk = false;
    std::thread LWorker([&] {
      LOk = RunUpdate(AController, Images.Loader, Images.Firmware, ALog, LLogLock);
      LDone = true;
    });
    Loop.RunFor(static_cast<int>(std::chrono::milliseconds(kUpdateLimit).count()), [&] {
      AOnTurn();
      return LDone.load();
    });
    LWorker.join();
    return LOk;
  }

  TImageFiles Images;
};

TEST_F(TLinuxUpdate, TwoStagesThroughHidrawNodesLogAsOnTheSimulatedBusAndLeaveTheImagesInTheBoard) {
  // On the simulated bus.
  std::vector<std::string> LSimLog;
  {
    sim::TSimBus LBus;
    auto LBoard = std::make_shared<sim::TSimBoard>(Quick());
    LBoard->PlugInto(LBus);
    TJvHidDeviceController LController(nullptr, &LBus);
    Loop.RunPending();
    ASSERT_TRUE(RunOnWorker(LController, LSimLog, [] {}));
    ExpectImagesIn(*LBoard);
  }

  // Through the Linux backend: the board behind hidraw0, then hidraw1.
  sim::TSimBus LHome;
  auto LBoard = std::make_shared<sim::TSimBoard>(Quick());
  LBoard->PlugInto(LHome);
  TNodeFollower LNode(Bed, LHome, LBoard, kBoard);
  CreateController();
  Loop.RunPending();
  ASSERT_THAT(Events, ElementsAre("arrival MSP430 USB BSL"));
  std::vector<std::string> LLinuxLog;
  const bool LOk = RunOnWorker(*Controller, LLinuxLog, [&] { LNode.Turn(); });
  EXPECT_TRUE(LOk);
  EXPECT_THAT(Events, ElementsAre("arrival MSP430 USB BSL", "removal MSP430 USB BSL", "arrival MSP430 USB BSL"));
  EXPECT_EQ(LBoard->State(), sim::TBoardState::RamLoader);
  ASSERT_TRUE(BoardTookEveryReport(*LBoard, LLinuxLog));
  ExpectImagesIn(*LBoard);
  EXPECT_EQ(Comparable(LLinuxLog), Comparable(LSimLog));
  EXPECT_NE(std::find(LLinuxLog.begin(), LLinuxLog.end(), "Firmware update complete"), LLinuxLog.end());
}

}  // namespace
