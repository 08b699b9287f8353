#include "HidrawBoard.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace winetest {
namespace {

// The USB loader's report descriptor: one vendor-defined collection with a
// 64-byte input and a 64-byte output report, both of ID 0x3F.
const std::vector<uint8_t> kLoaderDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                                      // vendor page, usage 1
    0x85, 0x3F, 0x95, 0x3F, 0x75, 0x08, 0x25, 0x01, 0x15, 0x01, 0x09, 0x01, 0x81, 0x02,  // input 0x3F
    0x85, 0x3F, 0x95, 0x3F, 0x75, 0x08, 0x25, 0x01, 0x15, 0x01, 0x09, 0x01, 0x91, 0x02,  // output 0x3F
    0xC0};
constexpr uint32_t kReportBytes = 64;  // report ID included
// How often the pump looks at the bus; the loader's own answers come
// within milliseconds.
constexpr uint32_t kPumpMs = 2;
// A plug or unplug is mirrored within one pump round; this is far more.
constexpr auto kSyncWait = std::chrono::seconds(5);

}  // namespace

THidrawBoard::THidrawBoard(UMockdevTestbed* ATestbed, std::vector<std::string> ABoardWords)
    : FTestbed(ATestbed),
      FBoardWords(std::move(ABoardWords)),
      FReadBuffer(kReportBytes),
      FBoard(sim::MakeSimBoard(FBoardWords)) {}

THidrawBoard::~THidrawBoard() {
  FStop = true;
  if (FThread.joinable()) FThread.join();
}

std::shared_ptr<sim::TSimBoard> THidrawBoard::Board() const {
  std::lock_guard<std::mutex> LGuard(FLock);
  return FBoard;
}

bool THidrawBoard::Start(std::string& AError) {
  FBoard->PlugInto(FBus);
  FThread = std::thread([this] { Pump(); });
  std::unique_lock<std::mutex> LGuard(FLock);
  FSynced.wait_for(LGuard, kSyncWait, [this] { return !FCurrent.empty() || !FError.empty(); });
  AError = FCurrent.empty() ? (FError.empty() ? "the board got no node" : FError) : "";
  return !FCurrent.empty();
}

std::string THidrawBoard::Plug() {
  const auto LBoard = Board();
  if (!FBus.IsPlugged(LBoard.get())) LBoard->PlugInto(FBus);
  std::unique_lock<std::mutex> LGuard(FLock);
  FSynced.wait_for(LGuard, kSyncWait, [this] { return !FCurrent.empty(); });
  return FCurrent;
}

std::string THidrawBoard::Reset() {
  Unplug();
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    FOldBoards.push_back(FBoard);
    FBoard = sim::MakeSimBoard(FBoardWords);
  }
  return Plug();
}

std::string THidrawBoard::Unplug() {
  FBus.Unplug(Board().get());
  std::unique_lock<std::mutex> LGuard(FLock);
  FSynced.wait_for(LGuard, kSyncWait, [this] { return FCurrent.empty(); });
  return FCurrent;
}

std::string THidrawBoard::CurrentNode() const {
  std::lock_guard<std::mutex> LGuard(FLock);
  return FCurrent;
}

std::vector<std::string> THidrawBoard::UnknownCalls() const {
  std::lock_guard<std::mutex> LGuard(FLock);
  std::vector<std::string> LAll = FUnknown;
  if (FNode)
    for (const std::string& LCall : FNode->UnknownCalls()) LAll.push_back(LCall);
  return LAll;
}

// ---- the pump thread ----

void THidrawBoard::Pump() {
  while (!FStop) {
    Sync();
    FBus.AlertableWait(kPumpMs);  // runs the read's completion
  }
  if (FNode) RemoveNode();
}

void THidrawBoard::Sync() {
  const auto LBoard = Board();
  const uint32_t LDeviceID = FBus.DeviceID(LBoard.get());  // 0 while off the bus
  if (FNode && LDeviceID != FNodeDeviceID) RemoveNode();
  if (!FNode && LDeviceID != 0) AddNode(*LBoard, LDeviceID);
  if (FNode && FReadDone) StartRead();
}

void THidrawBoard::AddNode(sim::TSimBoard& ABoard, uint32_t ADeviceID) {
  THidrawIdentity LIdentity;
  LIdentity.VendorID = ABoard.VendorID;
  LIdentity.ProductID = ABoard.ProductID;
  LIdentity.Version = ABoard.Version;
  LIdentity.Manufacturer = ABoard.Manufacturer;
  LIdentity.Product = ABoard.Product;
  LIdentity.Serial = "0000";
  LIdentity.Descriptor = kLoaderDescriptor;
  LIdentity.UsbPort = "1-2";
  LIdentity.HidSequence = FNextIndex + 1;
  LIdentity.HidrawIndex = FNextIndex++;
  sim::TSimBoard* LBoard = &ABoard;
  auto LNode = std::make_unique<THidrawNode>(FTestbed, LIdentity, [LBoard](const uint8_t* AData, size_t ALength) {
    const uint32_t LTaken = LBoard->OnOutputReport(AData, static_cast<uint32_t>(ALength));
    LBoard->AfterOutputReport();
    return static_cast<int>(LTaken);
  });
  std::string LError;
  if (!LNode->Add(LError)) {
    std::lock_guard<std::mutex> LGuard(FLock);
    FError = LError;
    FSynced.notify_all();
    return;
  }
  FRead = FBus.Open("sim:hid#" + std::to_string(ADeviceID), hid::TOpenAccess::OverlappedRead);
  std::lock_guard<std::mutex> LGuard(FLock);
  FNode = std::move(LNode);
  FNodeDeviceID = ADeviceID;
  StartRead();
  FCurrent = FNode->DevNode();
  std::printf("[board] %s added\n", FCurrent.c_str());
  FSynced.notify_all();
}

void THidrawBoard::RemoveNode() {
  if (FRead != hid::kInvalidHandle) FBus.Close(FRead);
  FRead = hid::kInvalidHandle;
  FReadDone = false;
  FNode->Remove();  // before the lock: umockdev may wait for its worker
  std::lock_guard<std::mutex> LGuard(FLock);
  for (const std::string& LCall : FNode->UnknownCalls()) FUnknown.push_back(LCall);
  FRetired.push_back(std::move(FNode));
  std::printf("[board] %s removed\n", FCurrent.c_str());
  FCurrent.clear();
  FSynced.notify_all();
}

void THidrawBoard::StartRead() {
  FReadDone = false;
  THidrawNode* LNode = FNode.get();
  const bool LStarted = FBus.StartRead(FRead, FReadBuffer.data(), kReportBytes, [this, LNode](uint32_t AError, uint32_t ACount) {
    if (AError != 0 || FNode.get() != LNode) return;  // cancelled, or the board left the bus
    LNode->QueueInputReport(std::vector<uint8_t>(FReadBuffer.begin(), FReadBuffer.begin() + ACount));
    FReadDone = true;
  });
  if (!LStarted) std::fprintf(stderr, "hidraw board: no read on the simulated bus\n");
}

}  // namespace winetest
