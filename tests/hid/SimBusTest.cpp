// The bus itself, below the controller: handles of an unplugged device,
// report sizes, per-handle queues and the writing thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "SimBus.h"
#include "SimDevices.h"
#include "TestEventLoop.h"

namespace {

class TRecordingBoard : public sim::TSimDevice {
 public:
  uint32_t OnOutputReport(const uint8_t* AData, uint32_t ALength) override {
    Thread = std::this_thread::get_id();
    Last.assign(AData, AData + ALength);
    return ALength - Short;
  }
  std::thread::id Thread;
  std::vector<uint8_t> Last;
  uint32_t Short = 0;
};

std::string PathOf(sim::TSimBus& ABus, const sim::TSimDevice* ADevice) {
  std::vector<hid::TDiscoveredInterface> LFound;
  ABus.Enumerate(LFound);
  for (const auto& LInterface : LFound)
    if (LInterface.DeviceID == ABus.DeviceID(ADevice)) return LInterface.Path;
  return {};
}

}  // namespace

TEST(TSimBus, EveryPlugGivesANewIdentityAndANotification) {
  TTestEventLoop LLoop;
  sim::TSimBus LBus;
  int LNotes = 0;
  LBus.WatchChanges([&](int32_t ALParam) { LNotes += ALParam == -1 ? 100 : 1; });
  auto LBoard = sim::MakePlainSimBoard();
  const uint32_t LFirst = LBus.Plug(LBoard);
  EXPECT_THROW(LBus.Plug(LBoard), std::logic_error);
  EXPECT_EQ(LBoard->Bus, &LBus);
  LBus.Unplug(LBoard.get());
  EXPECT_EQ(LBoard->Bus, nullptr);
  EXPECT_FALSE(LBus.IsPlugged(LBoard.get()));
  const uint32_t LSecond = LBus.Plug(LBoard);
  EXPECT_NE(LFirst, LSecond);
  LLoop.RunPending();
  EXPECT_EQ(LNotes, 103) << "the first notification carries -1, then one per change";
  LBus.UnwatchChanges();
}

TEST(TSimBus, WritesRunOnTheWritingThreadAndMustBeWholeReports) {
  sim::TSimBus LBus;
  auto LBoard = std::make_shared<TRecordingBoard>();
  LBoard->VendorID = 0x2047;
  LBus.Plug(LBoard);
  const std::string LPath = PathOf(LBus, LBoard.get());
  const hid::THidHandle LHandle = LBus.Open(LPath, hid::TOpenAccess::ReadWrite);
  const hid::THidHandle LRead = LBus.Open(LPath, hid::TOpenAccess::OverlappedRead);
  ASSERT_NE(LHandle, hid::kInvalidHandle);
  std::vector<uint8_t> LReport(64, 0xAC);
  uint32_t LWritten = 0;
  EXPECT_FALSE(LBus.Write(LHandle, LReport.data(), 63, LWritten));
  std::thread([&] { EXPECT_TRUE(LBus.Write(LHandle, LReport.data(), 64, LWritten)); }).join();
  EXPECT_NE(LBoard->Thread, std::this_thread::get_id());
  EXPECT_EQ(LBoard->Last, LReport);
  LBoard->Short = 10;
  EXPECT_TRUE(LBus.Write(LHandle, LReport.data(), 64, LWritten));
  EXPECT_EQ(LWritten, 54u) << "a short write is the device's answer, not the bus's";
  LBus.Unplug(LBoard.get());
  EXPECT_FALSE(LBus.Write(LHandle, LReport.data(), 64, LWritten));
  EXPECT_EQ(hid::LastSystemError().Code, hid::kErrorDeviceNotConnected);
  std::vector<uint8_t> LBuffer(64);
  EXPECT_FALSE(LBus.StartRead(LRead, LBuffer.data(), 64, nullptr));
  EXPECT_EQ(hid::LastSystemError().Code, hid::kErrorDeviceNotConnected) << "a read fails for the same reason";
  hid::THidAttributes LAttributes;
  EXPECT_FALSE(LBus.GetAttributes(LHandle, LAttributes)) << "every handle of it fails";
  LBus.Close(LRead);
  LBus.Close(LHandle);
  EXPECT_EQ(LBus.OpenHandleCount(), 0u);
}

TEST(TSimBus, InputReportsArePaddedAndQueuedPerReadHandle) {
  sim::TSimBus LBus;
  auto LBoard = sim::MakePlainSimBoard();
  LBus.Plug(LBoard);
  const std::string LPath = PathOf(LBus, LBoard.get());
  const hid::THidHandle LRead1 = LBus.Open(LPath, hid::TOpenAccess::OverlappedRead);
  const hid::THidHandle LRead2 = LBus.Open(LPath, hid::TOpenAccess::OverlappedRead);
  const hid::THidHandle LQuery = LBus.Open(LPath, hid::TOpenAccess::QueryOnly);
  LBus.PushInputReport(LBoard.get(), {0x3F, 0x02, 0x3B, 0x00});
  std::vector<uint8_t> LBuffer(64, 0xEE);
  uint32_t LCount = 0;
  ASSERT_TRUE(LBus.StartRead(LRead1, LBuffer.data(), 64, [&](uint32_t, uint32_t N) { LCount = N; }));
  EXPECT_EQ(LBuffer[2], 0x3B);
  EXPECT_EQ(LBuffer[63], 0x00) << "padded to the input report length";
  EXPECT_TRUE(LBus.AlertableWait(100));
  EXPECT_EQ(LCount, 64u);
  std::vector<uint8_t> LShort(10);
  EXPECT_FALSE(LBus.StartRead(LRead2, LShort.data(), 10, nullptr)) << "buffer shorter than a report";
  EXPECT_FALSE(LBus.StartRead(LQuery, LBuffer.data(), 64, nullptr));
  ASSERT_TRUE(LBus.StartRead(LRead2, LBuffer.data(), 64, nullptr));
  EXPECT_EQ(LBuffer[2], 0x3B) << "the second handle had its own copy queued";
  LBus.AlertableWait(0);
  for (auto LHandle : {LRead1, LRead2, LQuery}) LBus.Close(LHandle);
}

// Ports: given in plug order, those behind a hub under its port, kept when
// the device comes back under a new identity, never given twice.
TEST(TSimBus, EveryDeviceHasAPortThatOutlivesItsIdentity) {
  sim::TSimBus LBus;
  LBus.ReservePort("1-2");  // named by a device that comes later
  auto LNamed = sim::MakePlainSimBoard();
  LNamed->Port = "1-2";
  auto LFirst = sim::MakePlainSimBoard();
  auto LSecond = sim::MakeSimKeyboard();
  LBus.Plug(LFirst);
  const auto LHub = LBus.AddHub(sim::TSimHubKind::MultiTT);
  auto LBehind = sim::MakePlainSimBoard();
  LBehind->Hub = LHub;
  LBus.Plug(LBehind);
  LBus.Plug(LSecond);
  LBus.Plug(LNamed);
  EXPECT_EQ(LFirst->Port, "1-1");
  EXPECT_EQ(LHub->Port(), "1-3");
  EXPECT_EQ(LBehind->Port, "1-3.1");
  EXPECT_EQ(LSecond->Port, "1-4");
  EXPECT_EQ(LNamed->Port, "1-2");
  const uint32_t LOldId = LBus.DeviceID(LFirst.get());
  LBus.Unplug(LFirst.get());
  LBus.Plug(sim::MakeSimMouse());  // a newcomer does not take the empty port
  LBus.Plug(LFirst);
  std::vector<hid::TDiscoveredInterface> LFound;
  ASSERT_TRUE(LBus.Enumerate(LFound));
  std::vector<std::string> LPorts;
  for (const auto& LInterface : LFound) LPorts.push_back(LInterface.Port);
  EXPECT_THAT(LPorts, ::testing::ElementsAre("1-3.1", "1-4", "1-2", "1-5", "1-1"));
  EXPECT_NE(LFound.back().DeviceID, LOldId);
}

// A single-TT hub: six boards (an IN and an OUT endpoint each) fill its 12
// periodic transfers; the seventh is refused at arrival as Linux refuses
// it, and fits again once another board has left.
TEST(TSimBus, SingleTTHubRefusesTheSeventhBoardForBandwidth) {
  TTestEventLoop LLoop;
  sim::TSimBus LBus;
  std::vector<std::string> LLog;
  LBus.SetSystemLog([&](const std::string& ALine) { LLog.push_back(ALine); });
  int LNotes = 0;
  LBus.WatchChanges([&](int32_t ALParam) { LNotes += ALParam == -1 ? 0 : 1; });
  const auto LHub = LBus.AddHub(sim::TSimHubKind::SingleTT);
  std::vector<std::shared_ptr<sim::TSimDevice>> LBoards;
  for (int i = 0; i < 8; ++i) {
    LBoards.push_back(sim::MakePlainSimBoard());
    LBoards.back()->Hub = LHub;
    const uint32_t LId = LBus.Plug(LBoards.back());
    EXPECT_EQ(LId != 0, i < 6) << "board " << i + 1;
  }
  LLoop.RunPending();
  EXPECT_EQ(LNotes, 6) << "a refused board never appears";
  EXPECT_EQ(LBus.Devices().size(), 6u);
  EXPECT_FALSE(LBus.IsPlugged(LBoards[6].get()));
  EXPECT_THAT(LLog, ::testing::ElementsAre("usb 1-1.7: Not enough bandwidth for new device state.",
                                           "usb 1-1.7: can't set config #1, error -28",
                                           "usb 1-1.8: Not enough bandwidth for new device state.",
                                           "usb 1-1.8: can't set config #1, error -28"));
  LBus.Unplug(LBoards[0].get());
  EXPECT_NE(LBus.Plug(LBoards[7]), 0u) << "the time the leaving board had is free again";
  EXPECT_EQ(LBoards[7]->Port, "1-1.8");
  // A multi-TT hub has a translator per port: no such limit.
  const auto LMulti = LBus.AddHub(sim::TSimHubKind::MultiTT);
  for (int i = 0; i < 8; ++i) {
    auto LBoard = sim::MakePlainSimBoard();
    LBoard->Hub = LMulti;
    EXPECT_NE(LBus.Plug(LBoard), 0u);
  }
  LBus.UnwatchChanges();
}
