// The worker's check-out and check-in meet the main thread's passes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SimFixture.h"

namespace {

std::atomic<int> GChecks{0};

// Like the update worker's predicate: reads the identity, opens the device.
bool FindBoard(TJvHidDevice* ADevice) {
  ++GChecks;
  ADevice->OpenFile();
  return ADevice->Attributes().VendorID == kBslVendorID;
}

}  // namespace

TEST_F(TSimControllerTest, WorkerCheckingOutAndInWhilePassesRun) {
  constexpr int kPasses = 300;        // plug cycles at least
  constexpr int kMinTaken = 20;       // check-outs of the board the worker must have made
  constexpr int kMaxPasses = 200000;  // bound for a scheduler that starves the worker
  auto LBoard = sim::MakePlainSimBoard();
  auto LKeyboard = sim::MakeSimKeyboard();
  Bus->Plug(LKeyboard);
  Create();
  Controller->OnArrival = [](TJvHidDevice* D) { D->ProductName(); };
  Controller->OnRemoval = [](TJvHidDevice* D) { D->VendorName(); };
  Loop.RunPending();

  std::atomic<bool> LStop{false};
  std::atomic<int> LTaken{0};
  std::thread LWorker([&] {
    while (!LStop) {
      TJvHidDevice* LDevice = nullptr;
      if (Controller->CheckOutByCallback(LDevice, &FindBoard)) {
        ++LTaken;
        std::vector<uint8_t> LReport(sim::kBslReportLength, 0xAC);
        uint32_t LWritten = 0;
        LDevice->WriteFile(LReport.data(), sim::kBslReportLength, LWritten);  // may fail: unplugged
        std::vector<uint8_t> LReply(sim::kBslReportLength, 0);
        if (LDevice->ReadFileEx(LReply.data(), sim::kBslReportLength, nullptr)) {
          LDevice->WaitForRead(1);
          LDevice->CancelRead();
        }
        Controller->CheckIn(LDevice);
      }
    }
  });
  for (int LPass = 0; LPass < kMaxPasses && (LPass < kPasses || LTaken < kMinTaken || LPass % 2 == 1); ++LPass) {
    if (LPass % 2 == 0) {
      Bus->Plug(LBoard);
      Bus->PushInputReport(LBoard.get(), std::vector<uint8_t>(sim::kBslReportLength, 0x3F));
    } else {
      Bus->Unplug(LBoard.get());
    }
    Loop.RunPending();
    TJvHidDevice* LMine = nullptr;
    if (Controller->CheckOutByID(LMine, 0x046D, -1)) Controller->CheckIn(LMine);
    std::this_thread::yield();
  }
  LStop = true;
  LWorker.join();
  Loop.RunPending();

  EXPECT_GT(GChecks.load(), 0);
  EXPECT_GE(LTaken.load(), kMinTaken) << "the worker rarely got the board: the test did not interleave";
  // Board unplugged at the end: only the keyboard is left, free.
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);
  EXPECT_EQ(Controller->NumUnpluggedDevices(), 0);
  EXPECT_EQ(Controller->NumCheckedInDevices(), 1);
  EXPECT_EQ(Bus->OpenHandleCount(), 0u);
}
