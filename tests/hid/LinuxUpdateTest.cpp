// A whole two-stage update through the Linux backend under umockdev. The
// board's hidraw node is a pseudo-terminal; on its other side the simulated
// board's protocol answers (the board lives on a private simulated bus, and
// a bridge thread carries reports between that bus and the node). When the
// board leaves and comes back under its RAM loader, its node is removed and
// a new one appears, each with its uevent. The same update runs once more on
// the simulated bus; both runs must log the same lines, and the board's
// memory must hold the images.
#include <fcntl.h>
#include <termios.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <regex>
#include <thread>

#include "BoardIds.h"
#include "ImageWriter.h"
#include "SimBoard.h"
#include "SimBus.h"
#include "UmockdevBed.h"
#include "bsl_hid.h"

namespace {

using ::testing::ElementsAre;
using TMemory = std::map<uint32_t, uint8_t>;

constexpr uint32_t kRamLoader = 0x2500;
constexpr uint32_t kCode = 0x4400;
constexpr uint32_t kVectors = 0xFFE0;
constexpr uint32_t kReport = 64;
constexpr auto kAfterPassword = std::chrono::milliseconds(100);
constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr auto kWaitForBoard = std::chrono::seconds(20);
constexpr auto kUpdateLimit = std::chrono::seconds(60);
constexpr auto kBridgePoll = std::chrono::milliseconds(2);

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

// One TI-TXT section of ABytes bytes at AAddress, recorded in AMemory.
std::string Section(uint32_t AAddress, int ABytes, uint8_t ASeed, TMemory* AMemory) {
  char LText[16];
  std::snprintf(LText, sizeof LText, "@%04X\n", AAddress);
  std::string LOut = LText;
  for (int LIdx = 0; LIdx < ABytes; ++LIdx) {
    const uint8_t LByte = static_cast<uint8_t>(ASeed + LIdx * 7);
    if (AMemory) (*AMemory)[AAddress + LIdx] = LByte;
    std::snprintf(LText, sizeof LText, "%02X%c", LByte, (LIdx % 16 == 15 || LIdx == ABytes - 1) ? '\n' : ' ');
    LOut += LText;
  }
  return LOut;
}

void WriteText(const std::string& APath, const std::string& AText) {
  std::FILE* LFile = std::fopen(APath.c_str(), "w");
  ASSERT_NE(LFile, nullptr);
  std::fputs(AText.c_str(), LFile);
  std::fclose(LFile);
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

// Carries reports between the board's node (the pseudo-terminal's other
// end) and the board on its private bus.
class TNodeBridge {
 public:
  TNodeBridge(sim::TSimBus& AHome, std::shared_ptr<sim::TSimBoard> ABoard)
      : FHome(AHome), FBoard(std::move(ABoard)), FThread([this] { Run(); }) {}
  ~TNodeBridge() {
    FStop = true;
    FThread.join();
  }
  // The node's other end while the board is on the bus, -1 while it is away.
  void Attach(int AOtherEnd) {
    if (AOtherEnd >= 0) MakeRaw(AOtherEnd);
    std::lock_guard<std::mutex> LGuard(FLock);
    FOtherEnd = AOtherEnd;
    FPending.clear();
    FAttachChanged = true;
  }

 private:
  static void MakeRaw(int AFd) {
    termios LModes;
    if (::tcgetattr(AFd, &LModes) != 0) return;
    ::cfmakeraw(&LModes);
    ::tcsetattr(AFd, TCSANOW, &LModes);
  }

  std::string HomePath() {
    std::vector<hid::TDiscoveredInterface> LFound;
    FHome.Enumerate(LFound);
    for (const auto& LInterface : LFound)
      if (LInterface.DeviceID == FHome.DeviceID(FBoard.get())) return LInterface.Path;
    return {};
  }

  // Keeps one read outstanding on the board's bus; answers go to the node.
  void KeepReading() {
    if (FReadHandle == hid::kInvalidHandle) {
      const std::string LPath = HomePath();
      if (LPath.empty()) return;
      FReadHandle = FHome.Open(LPath, hid::TOpenAccess::OverlappedRead);
      if (FReadHandle == hid::kInvalidHandle) return;
    }
    if (FReading) return;
    FReading = FHome.StartRead(FReadHandle, FAnswer, kReport, [this](uint32_t AError, uint32_t ACount) {
      FReading = false;
      if (AError != 0) {
        FHome.Close(FReadHandle);  // the board left its bus
        FReadHandle = hid::kInvalidHandle;
        return;
      }
      int LFd;
      {
        std::lock_guard<std::mutex> LGuard(FLock);
        LFd = FOtherEnd;
      }
      if (LFd >= 0 && ::write(LFd, FAnswer, ACount) != static_cast<ssize_t>(ACount)) ADD_FAILURE() << "answer cut";
    });
  }

  void Run() {
    uint8_t LChunk[256];
    while (!FStop) {
      KeepReading();
      FHome.AlertableWait(0);
      int LFd;
      {
        std::lock_guard<std::mutex> LGuard(FLock);
        LFd = FOtherEnd;
      }
      pollfd LPoll{LFd, POLLIN, 0};
      if (LFd < 0 || ::poll(&LPoll, 1, 2) <= 0) {
        if (LFd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      const ssize_t LRead = ::read(LFd, LChunk, sizeof LChunk);
      if (LRead <= 0) continue;
      std::vector<uint8_t> LReports;
      {
        std::lock_guard<std::mutex> LGuard(FLock);
        if (FAttachChanged) FAttachChanged = false;
        FPending.insert(FPending.end(), LChunk, LChunk + LRead);
        const size_t LWhole = FPending.size() / kReport * kReport;
        LReports.assign(FPending.begin(), FPending.begin() + static_cast<long>(LWhole));
        FPending.erase(FPending.begin(), FPending.begin() + static_cast<long>(LWhole));
      }
      for (size_t LAt = 0; LAt < LReports.size(); LAt += kReport) {
        FBoard->OnOutputReport(&LReports[LAt], kReport);
        FBoard->AfterOutputReport();
      }
    }
    if (FReadHandle != hid::kInvalidHandle) FHome.Close(FReadHandle);
    FHome.AlertableWait(0);
  }

  sim::TSimBus& FHome;
  std::shared_ptr<sim::TSimBoard> FBoard;
  std::mutex FLock;
  int FOtherEnd = -1;
  bool FAttachChanged = false;
  std::vector<uint8_t> FPending;
  hid::THidHandle FReadHandle = hid::kInvalidHandle;
  bool FReading = false;
  uint8_t FAnswer[kReport] = {};
  std::atomic<bool> FStop{false};
  std::thread FThread;  // last: starts once the rest is set up
};

class TLinuxUpdate : public TLinuxBackend {
 protected:
  void SetUp() override {
    TLinuxBackend::SetUp();
    if (IsSkipped()) return;
    char LFolder[] = "/tmp/kestrova-update-XXXXXX";
    ASSERT_NE(::mkdtemp(LFolder), nullptr);
    Folder = LFolder;
    Loader = Folder + "/kestrova.1.ldr.txt";
    Firmware = Folder + "/kestrova.2.fw.txt";
    WriteText(Loader, Section(kRamLoader, 64, 0x11, nullptr) + "#2500\nq\n");
    WriteText(Firmware, Section(kCode, 160, 0x31, &Expected) + "SET\n" + Section(kVectors, 32, 0x80, &Expected) + "q\n");
  }
  void TearDown() override {
    if (!Folder.empty() && ::system(("rm -rf " + Folder).c_str()) != 0) ADD_FAILURE() << "left " << Folder;
    TLinuxBackend::TearDown();
  }

  static sim::TSimBoardOptions Quick() {
    sim::TSimBoardOptions LOptions;
    LOptions.ReturnDelayMs = 200;
    return LOptions;
  }

  void ExpectImagesIn(const sim::TSimBoard& ABoard) {
    for (const auto& [LAddress, LByte] : Expected)
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
      LOk = RunUpdate(AController, Loader, Firmware, ALog, LLogLock);
      LDone = true;
    });
    Loop.RunFor(static_cast<int>(std::chrono::milliseconds(kUpdateLimit).count()), [&] {
      AOnTurn();
      return LDone.load();
    });
    LWorker.join();
    return LOk;
  }

  std::string Folder, Loader, Firmware;
  TMemory Expected;
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
  TFakeDevice LNode = kBoard;
  Add(LNode, false);
  TNodeBridge LBridge(LHome, LBoard);
  LBridge.Attach(umockdev_testbed_get_dev_fd(Bed, "/dev/hidraw0"));
  CreateController();
  Loop.RunPending();
  ASSERT_THAT(Events, ElementsAre("arrival MSP430 USB BSL"));
  uint32_t LSeenId = LHome.DeviceID(LBoard.get());
  bool LOnBus = true;
  std::vector<std::string> LLinuxLog;
  const bool LOk = RunOnWorker(*Controller, LLinuxLog, [&] {
    const uint32_t LId = LHome.DeviceID(LBoard.get());
    if (LId == LSeenId) return;
    if (LOnBus) {  // the board left: its node goes
      LBridge.Attach(-1);
      Remove(LNode);
      LOnBus = false;
    }
    if (LId != 0) {  // back under the RAM loader on the same port: a new HID device, a new node
      ++LNode.HidSequence;
      ++LNode.HidrawIndex;
      Add(LNode, true);
      LBridge.Attach(umockdev_testbed_get_dev_fd(Bed, ("/dev/hidraw" + std::to_string(LNode.HidrawIndex)).c_str()));
      LOnBus = true;
    }
    LSeenId = LId;
  });
  EXPECT_TRUE(LOk);
  EXPECT_THAT(Events, ElementsAre("arrival MSP430 USB BSL", "removal MSP430 USB BSL", "arrival MSP430 USB BSL"));
  EXPECT_EQ(LBoard->State(), sim::TBoardState::RamLoader);
  ASSERT_TRUE(BoardTookEveryReport(*LBoard, LLinuxLog));
  ExpectImagesIn(*LBoard);
  EXPECT_EQ(Comparable(LLinuxLog), Comparable(LSimLog));
  EXPECT_NE(std::find(LLinuxLog.begin(), LLinuxLog.end(), "Firmware update complete"), LLinuxLog.end());
}

}  // namespace
