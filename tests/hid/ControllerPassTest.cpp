// Device-change passes: first pass, arrivals, removals, identity matching,
// the create-error pass and the controller without HID services.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "SimFixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr const char* kKeyboard = "046D:C31C";
constexpr const char* kMouse = "046D:C077";
constexpr const char* kBoard = "2047:0200";

std::string Ev(const char* AKind, const char* ADevice) { return std::string(AKind) + " " + ADevice; }

}  // namespace

using TControllerPass = TSimControllerTest;

TEST_F(TControllerPass, FirstPassWithNothingPresentRaisesOnlyOneChange) {
  Create();
  WatchChange();
  EXPECT_THAT(TakeEvents(), IsEmpty()) << "assigning the handler before the first notification changes nothing";
  Loop.RunPending();
  EXPECT_THAT(TakeEvents(), ElementsAre("change"));
  // A device that comes and goes before anybody looks: two notifications,
  // neither pass sees a change.
  auto LKeyboard = sim::MakeSimKeyboard();
  Bus->Plug(LKeyboard);
  Bus->Unplug(LKeyboard.get());
  EXPECT_EQ(Loop.RunPending(), 2);
  EXPECT_THAT(TakeEvents(), IsEmpty());
}

TEST_F(TControllerPass, FirstPassRunsOnlyOnceTheLoopRuns) {
  Bus->Plug(sim::MakePlainSimBoard());
  Create();
  EXPECT_EQ(Controller->NumCheckedInDevices(), 0);
  EXPECT_EQ(Controller->Enumerate(), 0);
  Loop.RunPending();
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("arrival", kBoard)));
  EXPECT_EQ(Controller->NumCheckedInDevices(), 1);
}

TEST_F(TControllerPass, ArrivalIsReportedOnceWithTheDeviceAlreadyListed) {
  Create();
  Loop.RunPending();
  bool LCheckedOutInHandler = false;
  Controller->OnArrival = [&](TJvHidDevice* ADevice) {
    TJvHidDevice* LTaken = nullptr;
    LCheckedOutInHandler = Controller->CheckOut(LTaken) && LTaken == ADevice;
    Controller->CheckIn(LTaken);
    Events.push_back("arrival " + Name(ADevice));
  };
  Bus->Plug(sim::MakeSimKeyboard());
  Loop.RunPending();
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("arrival", kKeyboard)));
  EXPECT_TRUE(LCheckedOutInHandler);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 1);
  EXPECT_EQ(Bus->OpenHandleCount(), 0u) << "after a pass no device object holds a handle";
}

TEST_F(TControllerPass, CheckedInDeviceThatLeavesIsRemovedInTheSamePass) {
  auto LKeyboard = sim::MakeSimKeyboard();
  auto LBoard = sim::MakePlainSimBoard();
  Bus->Plug(LKeyboard);
  Bus->Plug(LBoard);
  Create();
  Loop.RunPending();
  TakeEvents();
  // Names read while shown at arrival come back at removal; names never
  // read cannot be read once the device is gone.
  std::vector<std::string> LNamesAtRemoval;
  Controller->OnRemoval = [&](TJvHidDevice* D) { LNamesAtRemoval.push_back(D->ProductName()); };
  TJvHidDevice* LBoardEntry = EntryAt(1);
  Controller->OnEnumerate = [&](TJvHidDevice* D, int) {
    if (D == LBoardEntry) D->ProductName();
    return true;
  };
  Controller->Enumerate();
  Bus->Unplug(LKeyboard.get());
  Bus->Unplug(LBoard.get());
  Loop.RunPending();
  EXPECT_THAT(LNamesAtRemoval, ElementsAre("MSP430 USB BSL", "")) << "removals run from the end of the list";
  EXPECT_EQ(Controller->NumCheckedInDevices(), 0);
  EXPECT_EQ(Controller->NumUnpluggedDevices(), 0);
  EXPECT_EQ(Controller->Enumerate(), 0);
}

TEST_F(TControllerPass, RemovalsComeFromTheEndOfTheListThenArrivalsThenOneChange) {
  auto LKeyboard = sim::MakeSimKeyboard();
  auto LMouse = sim::MakeSimMouse();
  Bus->Plug(LKeyboard);
  Bus->Plug(LMouse);
  Create();
  WatchChange();
  Loop.RunPending();
  TakeEvents();
  Bus->Unplug(LKeyboard.get());
  Bus->Unplug(LMouse.get());
  Bus->Plug(sim::MakePlainSimBoard());
  Controller->SetOnDeviceChange([this](TJvHidDeviceController*) { Events.push_back("change"); });
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("removal", kMouse), Ev("removal", kKeyboard), Ev("arrival", kBoard),
                                        "change"));
  Loop.RunPending();  // the queued notifications find nothing new
  EXPECT_THAT(TakeEvents(), IsEmpty());
}

TEST_F(TControllerPass, CheckedOutDeviceThatLeavesStaysUntilCheckedIn) {
  auto LBoard = sim::MakePlainSimBoard();
  Bus->Plug(LBoard);
  Bus->Plug(sim::MakeSimKeyboard());
  Create();
  WatchChange();
  Loop.RunPending();
  TakeEvents();
  TJvHidDevice* LHeld = nullptr;
  ASSERT_TRUE(Controller->CheckOutByID(LHeld, kBslVendorID, kBslProductID));
  Bus->Unplug(LBoard.get());
  Loop.RunPending();
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("removal", kBoard), "change"));
  EXPECT_FALSE(LHeld->IsPluggedIn());
  EXPECT_TRUE(LHeld->IsCheckedOut());
  EXPECT_EQ(Controller->NumUnpluggedDevices(), 1);
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 1);
  EXPECT_EQ(Controller->Enumerate(), 1) << "the unplugged entry is skipped";
  EXPECT_FALSE(LHeld->OpenFile());
  // Every later pass reports it again, with a change.
  Bus->Plug(sim::MakeSimMouse());
  Loop.RunPending();
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("removal", kBoard), Ev("arrival", kMouse), "change"));
  // Check-in destroys it and lowers the unplugged count.
  Controller->CheckIn(LHeld);
  EXPECT_EQ(LHeld, nullptr);
  EXPECT_EQ(Controller->NumUnpluggedDevices(), 0);
  Bus->Unplug(Bus->Devices().back().get());
  Loop.RunPending();
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("removal", kMouse), "change"));
}

TEST_F(TControllerPass, ReplugWhileOldObjectIsCheckedOutGivesANewObject) {
  auto LBoard = sim::MakePlainSimBoard();
  Bus->Plug(LBoard);
  Create();
  Loop.RunPending();
  TakeEvents();
  TJvHidDevice* LOld = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LOld));
  Bus->Unplug(LBoard.get());
  Bus->Plug(LBoard);
  Loop.RunPending();  // two notifications: the old object is reported gone in both
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("removal", kBoard), Ev("arrival", kBoard), Ev("removal", kBoard)));
  TJvHidDevice* LNew = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LNew));
  EXPECT_NE(LNew, LOld);
  EXPECT_TRUE(LNew->IsPluggedIn());
  EXPECT_NE(LNew->PnPInfo().FDeviceID, LOld->PnPInfo().FDeviceID);
  Controller->CheckIn(LOld);
  Controller->CheckIn(LNew);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 1);
  EXPECT_EQ(Controller->NumUnpluggedDevices(), 0);
}

TEST_F(TControllerPass, DeviceBackUnderTheSameIdentityKeepsItsObject) {
  auto LBoard = sim::MakePlainSimBoard();
  const uint32_t LId = Bus->Plug(LBoard);
  Create();
  Loop.RunPending();
  TakeEvents();
  TJvHidDevice* LBefore = EntryAt(0);
  Bus->Unplug(LBoard.get());
  Bus->PlugAs(LBoard, LId);
  Loop.RunPending();
  EXPECT_THAT(TakeEvents(), IsEmpty());
  EXPECT_EQ(EntryAt(0), LBefore);
  // The old object reopens the device by its path and works.
  TJvHidDevice* LDevice = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LDevice));
  std::vector<uint8_t> LReport(sim::kBslReportLength, 0xAC);
  uint32_t LWritten = 0;
  EXPECT_TRUE(LDevice->WriteFile(LReport.data(), sim::kBslReportLength, LWritten));
  Controller->CheckIn(LDevice);
}

TEST_F(TControllerPass, EnumerationThatCannotStartReportsEveryDeviceRemoved) {
  Bus->Plug(sim::MakeSimKeyboard());
  Bus->Plug(sim::MakeSimMouse());
  Create();
  Loop.RunPending();
  TakeEvents();
  Bus->SetEnumerationFails(true);
  WatchChange();
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("removal", kMouse), Ev("removal", kKeyboard), "change"));
}

// ---- the create-error pass ----

struct TBrokenDeviceCase {
  const char* Name;
  std::shared_ptr<sim::TSimDevice> (*Make)();
  const char* Message;
  const char* Reason;  // the system's words, where it gave any
};

class TCreateErrorPass : public TSimControllerTest,
                         public ::testing::WithParamInterface<TBrokenDeviceCase> {};

TEST_P(TCreateErrorPass, BrokenDeviceIsLeftOutAndReportedOnceWhileTheBoardBesideItIsFound) {
  auto LKeyboard = sim::MakeSimKeyboard();
  Bus->Plug(LKeyboard);
  Create();
  std::vector<std::string> LSkipped;
  Controller->OnDeviceSkipped = [&](TJvHidDeviceController*, const TJvHidPnPInfo& AInfo, const std::string& AReason) {
    LSkipped.push_back(AInfo.FDevicePath + " | " + AReason);
  };
  WatchChange();
  Loop.RunPending();
  TakeEvents();
  // One pass that removes the keyboard, meets the broken device and finds
  // the board plugged in after it.
  Bus->Unplug(LKeyboard.get());
  auto LBroken = GetParam().Make();
  const uint32_t LBrokenId = Bus->Plug(LBroken);
  Bus->Plug(sim::MakePlainSimBoard());
  Loop.RunPending();
  EXPECT_THAT(Loop.Errors, IsEmpty());
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("removal", kKeyboard), Ev("arrival", kBoard), "change"));
  EXPECT_EQ(Controller->NumCheckedInDevices(), 1);
  EXPECT_EQ(Bus->OpenHandleCount(), 0u);
  ASSERT_EQ(LSkipped.size(), 1u) << "reported once, however many passes meet it";
  EXPECT_EQ(LSkipped[0], "sim:hid#" + std::to_string(LBrokenId) + " | " + GetParam().Message + GetParam().Reason);
  // Later passes leave it out without a word, until it has gone and comes
  // back still broken.
  Controller->SetOnDeviceChange(nullptr);
  WatchChange();
  EXPECT_THAT(TakeEvents(), IsEmpty());
  EXPECT_EQ(LSkipped.size(), 1u);
  Bus->Unplug(LBroken.get());
  Loop.RunPending();
  Bus->PlugAs(LBroken, LBrokenId);
  Loop.RunPending();
  EXPECT_EQ(LSkipped.size(), 2u);
  // A create-error handler that takes care of it is the only report.
  bool LHandlerCalled = false;
  Controller->OnDeviceCreateError = [&](TJvHidDeviceController*, const TJvHidPnPInfo&, bool& AHandled, bool&) {
    LHandlerCalled = AHandled = true;
  };
  Bus->Unplug(LBroken.get());
  Bus->Plug(LBroken);
  Loop.RunPending();
  EXPECT_TRUE(LHandlerCalled);
  EXPECT_EQ(LSkipped.size(), 2u);
  EXPECT_THAT(Loop.Errors, IsEmpty());
}

TEST_P(TCreateErrorPass, RetryRequestedByTheHandlerIsBounded) {
  Bus->Plug(GetParam().Make());
  Create();
  int LCalls = 0;
  Controller->OnDeviceCreateError = [&](TJvHidDeviceController*, const TJvHidPnPInfo&, bool&, bool& ARetry) {
    ++LCalls;
    ARetry = true;
  };
  int LSkipped = 0;
  Controller->OnDeviceSkipped = [&](TJvHidDeviceController*, const TJvHidPnPInfo&, const std::string&) { ++LSkipped; };
  Loop.RunPending();
  EXPECT_EQ(LCalls, 4) << "the first attempt and three retries";
  EXPECT_EQ(LSkipped, 1) << "not taken care of: left out and reported";
  EXPECT_THAT(Loop.Errors, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(BrokenDevices, TCreateErrorPass,
                         ::testing::Values(TBrokenDeviceCase{"Unopenable", &sim::MakeSimUnopenableDevice,
                                                             "Device cannot be opened",
                                                             ": The system cannot find the file specified. (error 2)"},
                                           TBrokenDeviceCase{"Unidentifiable", &sim::MakeSimUnidentifiableDevice,
                                                             "Device cannot be identified", ""}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// ---- without HID services ----

TEST_F(TControllerPass, WithoutHidServicesTheControllerStaysEmptyAndSilent) {
  Bus->SetServicesAvailable(false);
  Bus->Plug(sim::MakePlainSimBoard());
  Create();
  WatchChange();
  Loop.RunPending();
  EXPECT_THAT(TakeEvents(), IsEmpty());
  EXPECT_EQ(Controller->HidGuid(), "{4D1E55B2-F16F-11CF-88CB-001111000030}");
  EXPECT_EQ(Controller->Enumerate(), 0);
  TJvHidDevice* LDevice = reinterpret_cast<TJvHidDevice*>(1);
  EXPECT_FALSE(Controller->CheckOut(LDevice));
  EXPECT_EQ(LDevice, nullptr);
}

TEST_F(TControllerPass, BindingIsCountedAndReleasedWithTheController) {
  Create();
  EXPECT_EQ(Bus->BindCount(), 1);
  {
    TJvHidDeviceController LSecond(nullptr, Bus.get());
    EXPECT_EQ(Bus->BindCount(), 2);
  }
  EXPECT_EQ(Bus->BindCount(), 1);
  Controller.reset();
  EXPECT_EQ(Bus->BindCount(), 0);
}

TEST_F(TControllerPass, NotificationDuringAPassIsDropped) {
  Create();
  Loop.RunPending();
  auto LMouse = sim::MakeSimMouse();
  Controller->OnArrival = [&](TJvHidDevice* D) {
    Events.push_back("arrival " + Name(D));
    if (D->Attributes().ProductID == 0xC31C) {
      Bus->Plug(LMouse);
      Loop.RunPending();  // a handler that lets events through
    }
  };
  Bus->Plug(sim::MakeSimKeyboard());
  Loop.RunPending();
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("arrival", kKeyboard)));
  Bus->Unplug(LMouse.get());
  Bus->Plug(LMouse);
  Loop.RunPending();
  EXPECT_THAT(TakeEvents(), ElementsAre(Ev("arrival", kMouse)));
}

TEST_F(TControllerPass, DestructionUnplugsCheckedOutDevicesAndClosesEverything) {
  Bus->Plug(sim::MakePlainSimBoard());
  Create();
  Loop.RunPending();
  int LUnplugs = 0;
  Controller->SetOnDeviceUnplug([&](TJvHidDevice*) { ++LUnplugs; });
  TJvHidDevice* LHeld = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LHeld));
  ASSERT_TRUE(LHeld->OpenFile());
  ASSERT_TRUE(LHeld->OpenFileEx(omhRead));
  EXPECT_EQ(Bus->OpenHandleCount(), 2u);
  Bus->Plug(sim::MakeSimKeyboard());  // its notification is still queued
  Controller.reset();
  EXPECT_EQ(LUnplugs, 0) << "the controller clears the unplug handler first";
  EXPECT_EQ(Bus->OpenHandleCount(), 0u);
  EXPECT_EQ(Bus->BindCount(), 0);
  EXPECT_EQ(Loop.RunPending(), 1) << "a notification queued before destruction finds nobody";
  Bus->Plug(sim::MakeSimMouse());
  EXPECT_EQ(Loop.PendingCount(), 0u) << "nobody watches any more";
}

TEST_F(TControllerPass, HandlerErrorEndsThePassWithTheCountersRight) {
  auto LKeyboard = sim::MakeSimKeyboard();
  Bus->Plug(LKeyboard);
  Create();
  Loop.RunPending();
  Controller->OnRemoval = [](TJvHidDevice*) { throw std::runtime_error("handler failed"); };
  Bus->Unplug(LKeyboard.get());
  Bus->Plug(sim::MakeSimMouse());
  Loop.RunPending();
  // The first pass ends in the removal handler: the keyboard is gone from
  // the list all the same; the second pass brings the mouse.
  EXPECT_EQ(Loop.Errors, std::vector<std::string>{"handler failed"});
  EXPECT_EQ(Controller->NumCheckedInDevices(), 1);
  EXPECT_EQ(Controller->NumUnpluggedDevices(), 0);
  TJvHidDevice* LOnly = EntryAt(0);
  ASSERT_NE(LOnly, nullptr);
  EXPECT_EQ(LOnly->Attributes().ProductID, 0xC077);
}

TEST_F(TControllerPass, UnplugHandlerRunsOnceAndFollowsReassignment) {
  auto LBoard = sim::MakePlainSimBoard();
  Bus->Plug(LBoard);
  Create();
  std::vector<std::string> LCalls;
  Controller->SetOnDeviceUnplug([&](TJvHidDevice*) { LCalls.push_back("first"); });
  Loop.RunPending();
  Controller->SetOnDeviceUnplug([&](TJvHidDevice*) { LCalls.push_back("second"); });
  TJvHidDevice* LHeld = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LHeld));
  Bus->Unplug(LBoard.get());
  Loop.RunPending();
  Bus->Plug(sim::MakeSimMouse());
  Loop.RunPending();  // reported removed again, but unplugged only once
  EXPECT_THAT(LCalls, ElementsAre("second"));
  Controller->CheckIn(LHeld);
}
