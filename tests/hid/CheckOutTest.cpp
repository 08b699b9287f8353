// Walking the list and lending devices: Enumerate, every check-out form,
// check-in and the counters.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "SimFixture.h"

using ::testing::ElementsAre;

namespace {

std::vector<TJvHidDevice*> GShown;
int GAcceptAt = -1;  // position (in calls) the check accepts; -1 none

bool RecordingCheck(TJvHidDevice* ADevice) {
  GShown.push_back(ADevice);
  ADevice->OpenFile();  // as a real check does while it reads the names
  return static_cast<int>(GShown.size()) - 1 == GAcceptAt;
}

}  // namespace

class TCheckOut : public TSimControllerTest {
 protected:
  void SetUp() override {
    TSimControllerTest::SetUp();
    Devices = {sim::MakePlainSimBoard(), sim::MakePlainSimBoard(), sim::MakePlainSimBoard()};
    for (auto& LDevice : Devices) Bus->Plug(LDevice);
    Create();
    Loop.RunPending();
    GShown.clear();
    GAcceptAt = -1;
  }

  std::vector<std::shared_ptr<sim::TSimDevice>> Devices;
};

TEST_F(TCheckOut, CallbackAcceptingTheSecondDeviceClosesTheFirstAndStops) {
  GAcceptAt = 1;
  TJvHidDevice* LDevice = nullptr;
  ASSERT_TRUE(Controller->CheckOutByCallback(LDevice, &RecordingCheck));
  ASSERT_EQ(GShown.size(), 2u) << "the third device is never shown";
  EXPECT_EQ(LDevice, GShown[1]);
  EXPECT_EQ(Bus->OpenHandleCount(Devices[0].get()), 0u);
  EXPECT_EQ(Bus->OpenHandleCount(Devices[1].get()), 1u) << "the accepted device stays as the check left it";
  EXPECT_TRUE(LDevice->IsCheckedOut());
  EXPECT_TRUE(LDevice->IsAccessible());
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 1);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 2);
  Controller->CheckIn(LDevice);
  EXPECT_EQ(Bus->OpenHandleCount(), 0u);
}

TEST_F(TCheckOut, CallbackRejectingEverythingShowsEachFreeDeviceOnce) {
  TJvHidDevice* LDevice = reinterpret_cast<TJvHidDevice*>(1);
  EXPECT_FALSE(Controller->CheckOutByCallback(LDevice, &RecordingCheck));
  EXPECT_EQ(LDevice, nullptr);
  EXPECT_EQ(GShown.size(), 3u);
  EXPECT_EQ(Bus->OpenHandleCount(), 0u);
  for (TJvHidDevice* LShown : GShown) EXPECT_FALSE(LShown->IsAccessible()) << "shown only during the check";
}

TEST_F(TCheckOut, CallbackIsNeverCalledWhenEveryDeviceIsCheckedOut) {
  TJvHidDevice* LHeld[3] = {};
  for (auto& LDevice : LHeld) ASSERT_TRUE(Controller->CheckOut(LDevice));
  TJvHidDevice* LDevice = nullptr;
  GAcceptAt = 0;
  EXPECT_FALSE(Controller->CheckOutByCallback(LDevice, &RecordingCheck));
  EXPECT_TRUE(GShown.empty());
  for (auto& LDevice2 : LHeld) Controller->CheckIn(LDevice2);
}

TEST_F(TCheckOut, CheckInKeepsThePluggedObjectForTheNextCheckOut) {
  GAcceptAt = 0;
  TJvHidDevice* LFirst = nullptr;
  ASSERT_TRUE(Controller->CheckOutByCallback(LFirst, &RecordingCheck));
  TJvHidDevice* LSeen = LFirst;
  Controller->CheckIn(LFirst);
  EXPECT_EQ(LFirst, nullptr);
  EXPECT_FALSE(LSeen->IsCheckedOut());
  GShown.clear();
  TJvHidDevice* LSecond = nullptr;
  ASSERT_TRUE(Controller->CheckOutByCallback(LSecond, &RecordingCheck));
  EXPECT_EQ(LSecond, LSeen);
  Controller->CheckIn(LSecond);
  TJvHidDevice* LNothing = nullptr;
  Controller->CheckIn(LNothing);  // an empty reference is ignored
  EXPECT_EQ(Controller->NumCheckedInDevices(), 3);
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);
}

TEST_F(TCheckOut, CheckOutFormsTakeTheFirstMatchAndSkipHeldEntries) {
  Bus->Plug(sim::MakeSimKeyboard());
  Loop.RunPending();
  TJvHidDevice* LA = nullptr;
  TJvHidDevice* LB = nullptr;
  TJvHidDevice* LC = nullptr;
  ASSERT_TRUE(Controller->CheckOutByIndex(LA, 1));
  EXPECT_FALSE(Controller->CheckOutByIndex(LB, 1)) << "already held";
  EXPECT_FALSE(Controller->CheckOutByIndex(LB, 4));
  EXPECT_FALSE(Controller->CheckOutByIndex(LB, -1));
  ASSERT_TRUE(Controller->CheckOutByID(LB, 0x046D, -1));
  EXPECT_EQ(LB->Attributes().ProductID, 0xC31C);
  EXPECT_FALSE(Controller->CheckOutByID(LC, 0x046D, 0xC31C));
  EXPECT_FALSE(Controller->CheckOutByID(LC, 0x2047, 0x0201));
  ASSERT_TRUE(Controller->CheckOut(LC));
  EXPECT_NE(LC, LA);
  EXPECT_EQ(LC->Attributes().VendorID, kBslVendorID);
  TJvHidDevice* LD = nullptr;
  EXPECT_FALSE(Controller->CheckOutByIndex(LD, 0)) << "CheckOut took the first free entry, index 0";
  ASSERT_TRUE(Controller->CheckOutByIndex(LD, 2));
  Controller->CheckIn(LD);
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 3);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 1);
  for (TJvHidDevice** LHeld : {&LA, &LB, &LC}) Controller->CheckIn(*LHeld);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 4);
}

TEST_F(TCheckOut, DeviceLevelCheckOutRefusesHeldAndUnpluggedObjects) {
  TJvHidDevice* LHeld = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LHeld));
  EXPECT_FALSE(LHeld->CheckOut());
  TJvHidDevice* LFree = EntryAt(1);
  ASSERT_TRUE(LFree->CheckOut());
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 2);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 1);
  Bus->Unplug(Devices[0].get());
  Loop.RunPending();
  EXPECT_FALSE(LHeld->CheckOut());
  Controller->CheckIn(LHeld);
  Controller->CheckIn(LFree);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 2);
  EXPECT_EQ(Controller->NumUnpluggedDevices(), 0);
}

TEST_F(TCheckOut, DoubleCheckInCountsOnce) {
  TJvHidDevice* LHeld = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LHeld));
  TJvHidDevice* LCopy = LHeld;
  Controller->CheckIn(LHeld);
  Controller->CheckIn(LCopy);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 3);
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);
}

// ---- Enumerate ----

struct TEnumerateCase {
  const char* Name;
  int StopAfter;  // the handler returns false on this call (1-based); 0 never; -1 no handler
  int Expected;
};

class TEnumerate : public TCheckOut, public ::testing::WithParamInterface<TEnumerateCase> {};

TEST_P(TEnumerate, CountsTheShownEntries) {
  int LCalls = 0;
  if (GetParam().StopAfter >= 0) {
    Controller->OnEnumerate = [&](TJvHidDevice* ADevice, int AIdx) {
      EXPECT_EQ(AIdx, LCalls);
      EXPECT_TRUE(ADevice->IsAccessible());
      ADevice->OpenFile();
      return ++LCalls != GetParam().StopAfter;
    };
  }
  EXPECT_EQ(Controller->Enumerate(), GetParam().Expected);
  EXPECT_EQ(Bus->OpenHandleCount(), 0u) << "handles opened by the handler are closed after showing";
}

INSTANTIATE_TEST_SUITE_P(Handlers, TEnumerate,
                         ::testing::Values(TEnumerateCase{"NoHandler", -1, 1}, TEnumerateCase{"AlwaysGoOn", 0, 3},
                                           TEnumerateCase{"StopAtFirst", 1, 1},
                                           TEnumerateCase{"StopAtSecond", 2, 2}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(TCheckOut, EnumerateShowsCheckedOutEntriesAndLeavesTheirHandlesOpen) {
  TJvHidDevice* LHeld = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LHeld));
  ASSERT_TRUE(LHeld->OpenFile());
  std::vector<int> LShown;
  Controller->OnEnumerate = [&](TJvHidDevice*, int AIdx) {
    LShown.push_back(AIdx);
    return true;
  };
  EXPECT_EQ(Controller->Enumerate(), 3);
  EXPECT_THAT(LShown, ElementsAre(0, 1, 2));
  EXPECT_EQ(Bus->OpenHandleCount(Devices[0].get()), 1u);
  Controller->CheckIn(LHeld);
}

TEST(TEnumerateEmpty, NoDeviceGivesZero) {
  TTestEventLoop LLoop;
  sim::TSimBus LBus;
  TJvHidDeviceController LController(nullptr, &LBus);
  LLoop.RunPending();
  EXPECT_EQ(LController.Enumerate(), 0);
}
