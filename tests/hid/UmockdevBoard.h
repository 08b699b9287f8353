// The simulated board behind a umockdev hidraw node: a small loader and
// firmware image in a folder of their own, the bridge that carries reports
// between the node (a pseudo-terminal) and the board on its private
// simulated bus, and the node that follows the board: removed when the
// board leaves the bus, a new one announced when it comes back.
#pragma once

#include <fcntl.h>
#include <termios.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "SimBoard.h"
#include "SimBus.h"
#include "UmockdevBed.h"

using TMemory = std::map<uint32_t, uint8_t>;

inline constexpr uint32_t kRamLoader = 0x2500;
inline constexpr uint32_t kCode = 0x4400;
inline constexpr uint32_t kVectors = 0xFFE0;
inline constexpr uint32_t kReport = 64;
inline constexpr auto kBridgePoll = std::chrono::milliseconds(2);

// One TI-TXT section of ABytes bytes at AAddress, recorded in AMemory.
inline std::string Section(uint32_t AAddress, int ABytes, uint8_t ASeed, TMemory* AMemory) {
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

inline void WriteText(const std::string& APath, const std::string& AText) {
  std::FILE* LFile = std::fopen(APath.c_str(), "w");
  ASSERT_NE(LFile, nullptr);
  std::fputs(AText.c_str(), LFile);
  std::fclose(LFile);
}

// The two images in a temporary folder, removed with it; Expected: the
// firmware's bytes, as the board must hold them afterwards.
struct TImageFiles {
  TImageFiles() {
    char LFolder[] = "/tmp/kestrova-update-XXXXXX";
    if (!::mkdtemp(LFolder)) {
      ADD_FAILURE() << "no temporary folder";
      return;
    }
    Folder = LFolder;
    Loader = Folder + "/kestrova.1.ldr.txt";
    Firmware = Folder + "/kestrova.2.fw.txt";
    WriteText(Loader, Section(kRamLoader, 64, 0x11, nullptr) + "#2500\nq\n");
    WriteText(Firmware, Section(kCode, 160, 0x31, &Expected) + "SET\n" + Section(kVectors, 32, 0x80, &Expected) + "q\n");
  }
  ~TImageFiles() {
    if (!Folder.empty() && ::system(("rm -rf " + Folder).c_str()) != 0) ADD_FAILURE() << "left " << Folder;
  }
  TImageFiles(const TImageFiles&) = delete;
  TImageFiles& operator=(const TImageFiles&) = delete;

  bool InBoard(const sim::TSimBoard& ABoard) const {
    for (const auto& [LAddress, LByte] : Expected)
      if (ABoard.ReadMemory(LAddress, 1) != std::vector<uint8_t>{LByte}) return false;
    return true;
  }

  std::string Folder, Loader, Firmware;
  TMemory Expected;
};

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

// The board's node in the test bed, bridged to the board: plugged in
// (without a uevent: a first pass finds it) when this is made. Turn(), on
// the test's thread between turns of its loop, follows the board: when it
// leaves its bus its node goes, and when it comes back under the RAM
// loader on the same port it is a new HID device with a new node, each with
// its uevent.
class TNodeFollower {
 public:
  TNodeFollower(UMockdevTestbed* ABed, sim::TSimBus& AHome, std::shared_ptr<sim::TSimBoard> ABoard, TFakeDevice ANode)
      : FBed(ABed), FHome(AHome), FBoard(ABoard), FNode(ANode), FBridge(AHome, ABoard) {
    AddFake(FBed, FNode, false);
    FBridge.Attach(umockdev_testbed_get_dev_fd(FBed, NodePath().c_str()));
    FSeenId = FHome.DeviceID(FBoard.get());
  }

  void Turn() {
    const uint32_t LId = FHome.DeviceID(FBoard.get());
    if (LId == FSeenId) return;
    if (FOnBus) {  // the board left: its node goes
      FBridge.Attach(-1);
      RemoveFake(FBed, FNode);
      FOnBus = false;
    }
    if (LId != 0) {  // back on the same port: a new HID device, a new node
      ++FNode.HidSequence;
      ++FNode.HidrawIndex;
      AddFake(FBed, FNode, true);
      FBridge.Attach(umockdev_testbed_get_dev_fd(FBed, NodePath().c_str()));
      FOnBus = true;
    }
    FSeenId = LId;
  }

 private:
  std::string NodePath() const { return "/dev/hidraw" + std::to_string(FNode.HidrawIndex); }

  UMockdevTestbed* FBed;
  sim::TSimBus& FHome;
  std::shared_ptr<sim::TSimBoard> FBoard;
  TFakeDevice FNode;
  TNodeBridge FBridge;
  uint32_t FSeenId = 0;
  bool FOnBus = true;
};
