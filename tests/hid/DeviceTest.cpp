// The device object: opening rules, names, capabilities, queue lengths,
// synchronous writes and the one overlapped read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <thread>

#include "DeviceOpenError.h"
#include "SimFixture.h"

namespace {

constexpr uint32_t kReportLength = sim::kBslReportLength;

std::vector<uint8_t> Report(uint8_t AFill) { return std::vector<uint8_t>(kReportLength, AFill); }

struct TCompletion {
  int Calls = 0;
  uint32_t Error = 0xFFFFFFFF;
  uint32_t Count = 0;
  uintptr_t Identity = 0;
  TJvReadCallback Callback() {
    return [this](uint32_t AError, uint32_t ACount, const TJvOverlapped* AOvl) {
      ++Calls;
      Error = AError;
      Count = ACount;
      Identity = AOvl->hEvent;
    };
  }
};

}  // namespace

class TDevice : public TSimControllerTest {
 protected:
  void SetUp() override {
    TSimControllerTest::SetUp();
    Board = sim::MakePlainSimBoard();
    Bus->Plug(Board);
    Bus->Plug(sim::MakeSimKeyboard());
    Create();
    Loop.RunPending();
    ASSERT_TRUE(Controller->CheckOutByIndex(Held, 0));
  }

  void TearDown() override {
    if (Held) Controller->CheckIn(Held);
    TSimControllerTest::TearDown();
  }

  std::shared_ptr<sim::TSimDevice> Board;
  TJvHidDevice* Held = nullptr;
};

TEST(TDeviceCreation, DirectCreationIsRefused) {
  try {
    TJvHidDevice LDevice;
    FAIL() << "constructed";
  } catch (const EControllerError& E) {
    EXPECT_STREQ(E.what(), "Direct creation of a TJvHidDevice object is not allowed");
  }
}

TEST_F(TDevice, CreationReadsIdentityAndLeavesNothingOpen) {
  EXPECT_EQ(Held->Attributes().Size, 12u);
  EXPECT_EQ(Held->Attributes().VendorID, 0x2047);
  EXPECT_EQ(Held->Attributes().ProductID, 0x0200);
  EXPECT_EQ(Held->HidFileHandle(), hid::kInvalidHandle);
  EXPECT_EQ(Held->MyController(), Controller.get());
  EXPECT_EQ(Held->PnPInfo().FDeviceID, Bus->DeviceID(Board.get()));
}

TEST_F(TDevice, FirstCapsClosesTheOpenHandleAndTheNextWriteReopensIt) {
  Held->SetNumInputBuffers(64);
  ASSERT_TRUE(Held->OpenFile());
  EXPECT_EQ(Held->NumInputBuffers(), 64u);
  const hid::THidCaps LCaps = Held->Caps();
  EXPECT_EQ(LCaps.InputReportByteLength, kReportLength);
  EXPECT_EQ(LCaps.OutputReportByteLength, kReportLength);
  EXPECT_EQ(LCaps.UsagePage, 0xFF00);
  EXPECT_EQ(Held->HidFileHandle(), hid::kInvalidHandle);
  EXPECT_EQ(Held->NumInputBuffers(), 0u);
  auto LReport = Report(0xAC);
  uint32_t LWritten = 0;
  EXPECT_TRUE(Held->WriteFile(LReport.data(), kReportLength, LWritten));
  EXPECT_EQ(LWritten, kReportLength);
  EXPECT_EQ(Held->NumInputBuffers(), 32u) << "a reopened handle has the platform's default";
  Held->Caps();  // cached: no second open-and-close
  EXPECT_NE(Held->HidFileHandle(), hid::kInvalidHandle);
}

TEST_F(TDevice, HandlesLeftOpenByAnArrivalHandlerStillCountAsOpen) {
  TJvHidDevice* LArrived = nullptr;
  Controller->OnArrival = [&](TJvHidDevice* D) {
    LArrived = D;
    EXPECT_TRUE(D->OpenFile());
    EXPECT_TRUE(D->OpenFileEx(omhRead));
  };
  Bus->Plug(sim::MakePlainSimBoard());
  Loop.RunPending();
  ASSERT_NE(LArrived, nullptr);
  TJvHidDevice* LFree = EntryAt(1);  // the keyboard: free, never opened
  EXPECT_FALSE(LFree->IsAccessible());
  EXPECT_FALSE(LFree->OpenFile());
  EXPECT_FALSE(LFree->OpenFileEx(omhRead));
  EXPECT_FALSE(LArrived->IsAccessible());
  EXPECT_TRUE(LArrived->OpenFile()) << "an open handle gives true without any check";
  EXPECT_FALSE(LArrived->OpenFileEx(omhRead)) << "not accessible: false although the handle is open";
  LArrived->CloseFile();
  EXPECT_FALSE(LArrived->OpenFile());
}

TEST_F(TDevice, QueryOnlyDeviceIsIdentifiedButCannotBeWritten) {
  TJvHidDevice* LKeyboard = nullptr;
  ASSERT_TRUE(Controller->CheckOutByID(LKeyboard, 0x046D, 0xC31C));
  EXPECT_TRUE(LKeyboard->OpenFile());
  EXPECT_FALSE(LKeyboard->HasReadWriteAccess());
  uint32_t LWritten = 77;
  uint8_t LLeds[2] = {0, 1};
  EXPECT_FALSE(LKeyboard->WriteFile(LLeds, 2, LWritten));
  EXPECT_EQ(LKeyboard->VendorName(), "Logitech");
  EXPECT_EQ(LKeyboard->ProductName(), "USB Keyboard");
  EXPECT_EQ(LKeyboard->Caps().InputReportByteLength, 9);
  EXPECT_FALSE(LKeyboard->OpenFileEx(omhRead));
  Controller->CheckIn(LKeyboard);
}

TEST_F(TDevice, WritingTheSameQueueLengthAgainDoesNothing) {
  Held->SetNumInputBuffers(128);
  EXPECT_EQ(Held->NumInputBuffers(), 128u);
  Held->CloseFile();
  EXPECT_EQ(Held->NumInputBuffers(), 0u);
  Held->SetNumInputBuffers(0);
  EXPECT_EQ(Bus->OpenHandleCount(Board.get()), 0u) << "same value as the closed handle's 0: no open";
  Held->SetNumOverlappedBuffers(128);
  EXPECT_EQ(Held->NumOverlappedBuffers(), 128u);
  Held->SetNumOverlappedBuffers(1);  // refused by the platform, read back unchanged
  EXPECT_EQ(Held->NumOverlappedBuffers(), 128u);
}

TEST_F(TDevice, NamesAreCachedAndSurviveTheUnplug) {
  EXPECT_EQ(Held->ProductName(), "MSP430 USB BSL");
  EXPECT_EQ(Held->HidFileHandle(), hid::kInvalidHandle) << "closed after reading a name";
  Bus->Unplug(Board.get());
  Loop.RunPending();
  EXPECT_EQ(Held->ProductName(), "MSP430 USB BSL");
  EXPECT_EQ(Held->VendorName(), "") << "never read, cannot be read now";
}

// ---- the overlapped read ----

TEST_F(TDevice, QueuedReportIsInTheBufferOnReturnAndCompletesOnlyInTheWait) {
  Bus->PushInputReport(Board.get(), {});  // nobody reads yet: not kept
  ASSERT_TRUE(Held->OpenFileEx(omhRead));
  Bus->PushInputReport(Board.get(), Report(0x11));
  std::vector<uint8_t> LBuffer(kReportLength, 0);
  TCompletion LDone;
  ASSERT_TRUE(Held->ReadFileEx(LBuffer.data(), kReportLength, LDone.Callback()));
  EXPECT_EQ(LBuffer, Report(0x11));
  EXPECT_EQ(LDone.Calls, 0) << "runs only in an alertable wait";
  EXPECT_TRUE(Held->ReadPending());
  EXPECT_TRUE(Held->WaitForRead(1000));
  EXPECT_EQ(LDone.Calls, 1);
  EXPECT_EQ(LDone.Error, 0u);
  EXPECT_EQ(LDone.Count, kReportLength);
  EXPECT_EQ(LDone.Identity, reinterpret_cast<uintptr_t>(Held));
  EXPECT_FALSE(Held->ReadPending());
}

TEST_F(TDevice, ReadWithNothingQueuedLeavesTheBufferAndCompletesLater) {
  std::vector<uint8_t> LBuffer(kReportLength, 0);
  TCompletion LDone;
  ASSERT_TRUE(Held->ReadFileEx(LBuffer.data(), kReportLength, LDone.Callback()));
  EXPECT_EQ(LBuffer, Report(0));
  EXPECT_FALSE(Held->WaitForRead(20));
  std::thread LSender([&] { Bus->PushInputReport(Board.get(), Report(0x22)); });
  EXPECT_TRUE(Held->WaitForRead(2000));
  LSender.join();
  EXPECT_EQ(LBuffer, Report(0x22));
  EXPECT_EQ(LDone.Calls, 1);
}

TEST_F(TDevice, SecondReadIsRefusedWhileOneIsOutstanding) {
  std::vector<uint8_t> LFirst(kReportLength, 0), LSecond(kReportLength, 0);
  TCompletion LDone;
  ASSERT_TRUE(Held->ReadFileEx(LFirst.data(), kReportLength, LDone.Callback()));
  EXPECT_FALSE(Held->ReadFileEx(LSecond.data(), kReportLength, LDone.Callback()));
  Bus->PushInputReport(Board.get(), Report(0x33));
  // Completed but not yet delivered: still outstanding.
  EXPECT_FALSE(Held->ReadFileEx(LSecond.data(), kReportLength, LDone.Callback()));
  EXPECT_TRUE(Held->WaitForRead(1000));
  EXPECT_TRUE(Held->ReadFileEx(LSecond.data(), kReportLength, LDone.Callback()));
  Held->CancelRead();
}

TEST_F(TDevice, CancelOnTheStartingThreadDeliversAnAbortAndFreesTheBuffer) {
  auto LBuffer = std::make_unique<std::vector<uint8_t>>(kReportLength, 0);
  TCompletion LDone;
  ASSERT_TRUE(Held->ReadFileEx(LBuffer->data(), kReportLength, LDone.Callback()));
  Held->CancelRead();
  EXPECT_EQ(LDone.Calls, 1);
  EXPECT_EQ(LDone.Error, hid::kErrorOperationAborted);
  EXPECT_FALSE(Held->ReadPending());
  LBuffer.reset();  // released: a late report must not land in it
  Bus->PushInputReport(Board.get(), Report(0x44));
  std::vector<uint8_t> LNext(kReportLength, 0);
  ASSERT_TRUE(Held->ReadFileEx(LNext.data(), kReportLength, LDone.Callback()));
  EXPECT_EQ(LNext, Report(0x44)) << "the report went to the queue, not to the abandoned read";
  EXPECT_TRUE(Held->WaitForRead(1000));
}

TEST_F(TDevice, CancelFromAnotherThreadDropsTheCompletion) {
  std::vector<uint8_t> LBuffer(kReportLength, 0);
  TCompletion LDone;
  ASSERT_TRUE(Held->ReadFileEx(LBuffer.data(), kReportLength, LDone.Callback()));
  std::thread([this] {
    EXPECT_FALSE(Held->WaitForRead(10)) << "only the starting thread can wait for it";
    Held->CancelRead();
  }).join();
  EXPECT_FALSE(Held->ReadPending());
  Bus->PushInputReport(Board.get(), Report(0x55));
  EXPECT_EQ(LBuffer, Report(0));
  hid::AlertableWaitOnCurrentThread(20);
  EXPECT_EQ(LDone.Calls, 0);
}

TEST_F(TDevice, QueueKeepsTheNewestReportsUpToItsLength) {
  Held->SetNumOverlappedBuffers(2);
  for (uint8_t LFill = 1; LFill <= 4; ++LFill) Bus->PushInputReport(Board.get(), Report(LFill));
  std::vector<uint8_t> LBuffer(kReportLength, 0);
  TCompletion LDone;
  ASSERT_TRUE(Held->ReadFileEx(LBuffer.data(), kReportLength, LDone.Callback()));
  EXPECT_EQ(LBuffer, Report(3));
  ASSERT_TRUE(Held->WaitForRead(1000));
  Held->FlushQueue();
  ASSERT_TRUE(Held->ReadFileEx(LBuffer.data(), kReportLength, LDone.Callback()));
  EXPECT_EQ(LBuffer, Report(3)) << "flushed: report 4 is gone, the buffer is untouched";
  Held->CancelRead();
}

TEST_F(TDevice, UnplugCompletesTheOutstandingReadWithAnError) {
  std::vector<uint8_t> LBuffer(kReportLength, 0);
  TCompletion LDone;
  ASSERT_TRUE(Held->ReadFileEx(LBuffer.data(), kReportLength, LDone.Callback()));
  Bus->Unplug(Board.get());
  Loop.RunPending();  // the pass unplugs the object on this thread too
  EXPECT_TRUE(Held->WaitForRead(1000));
  EXPECT_EQ(LDone.Calls, 1);
  EXPECT_NE(LDone.Error, 0u);
  EXPECT_FALSE(Held->ReadFileEx(LBuffer.data(), kReportLength, LDone.Callback()));
}

TEST_F(TDevice, CompletionQueuedForADestroyedObjectIsDropped) {
  std::vector<uint8_t> LBuffer(kReportLength, 0);
  TCompletion LDone;
  ASSERT_TRUE(Held->ReadFileEx(LBuffer.data(), kReportLength, LDone.Callback()));
  Bus->PushInputReport(Board.get(), Report(0x66));  // completion now queued here
  Bus->Unplug(Board.get());
  Loop.RunPending();
  Controller->CheckIn(Held);  // unplugged: the object is destroyed
  hid::AlertableWaitOnCurrentThread(20);
  EXPECT_EQ(LDone.Calls, 0);
}

// ---- unplug while the worker is inside a write ----

namespace {

// A board whose writes block until the test lets them go.
class TSlowBoard : public sim::TSimDevice {
 public:
  TSlowBoard() {
    VendorID = kBslVendorID;
    ProductID = kBslProductID;
  }
  uint32_t OnOutputReport(const uint8_t*, uint32_t ALength) override {
    std::unique_lock<std::mutex> LLock(Lock);
    Inside = true;
    Changed.notify_all();
    Changed.wait(LLock, [this] { return Released; });
    Inside = false;
    return ALength;
  }
  std::mutex Lock;
  std::condition_variable Changed;
  bool Inside = false;
  bool Released = false;
};

}  // namespace

TEST_F(TSimControllerTest, UnplugDuringAWriteMakesTheWriteFailAndWaitsForIt) {
  auto LBoard = std::make_shared<TSlowBoard>();
  Bus->Plug(LBoard);
  Create();
  Loop.RunPending();
  TJvHidDevice* LDevice = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LDevice));
  auto LWrite = std::async(std::launch::async, [&] {
    std::vector<uint8_t> LReport(kReportLength, 0xAC);
    uint32_t LWritten = 0;
    return LDevice->WriteFile(LReport.data(), kReportLength, LWritten);
  });
  {
    std::unique_lock<std::mutex> LLock(LBoard->Lock);
    LBoard->Changed.wait(LLock, [&] { return LBoard->Inside; });
  }
  Bus->Unplug(LBoard.get());
  // Let the write go a little later, from a third thread, while the pass
  // below is already unplugging the object.
  std::thread LReleaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard<std::mutex> LGuard(LBoard->Lock);
    LBoard->Released = true;
    LBoard->Changed.notify_all();
  });
  Loop.RunPending();
  {
    std::lock_guard<std::mutex> LGuard(LBoard->Lock);
    EXPECT_FALSE(LBoard->Inside) << "the unplug waited for the write to leave the platform";
  }
  EXPECT_EQ(Bus->OpenHandleCount(), 0u);
  EXPECT_FALSE(LWrite.get());
  LReleaser.join();
  uint32_t LWritten = 0;
  uint8_t LByte = 0;
  EXPECT_FALSE(LDevice->WriteFile(&LByte, 1, LWritten));
  Controller->CheckIn(LDevice);
}

namespace {

// A board that takes the report whole, then leaves the bus; it lets the
// write return only once the controller has seen it go.
class TLeavingBoard : public sim::TSimDevice {
 public:
  TLeavingBoard() {
    VendorID = kBslVendorID;
    ProductID = kBslProductID;
  }
  void AfterOutputReport() override {
    Bus->Unplug(this);
    while (Object->IsPluggedIn()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  TJvHidDevice* Object = nullptr;
};

}  // namespace

// The report went out whole before the board left: the write succeeded,
// and only the next one fails.
TEST_F(TSimControllerTest, AReportTakenWholeStaysWrittenWhenTheBoardLeavesRightAfter) {
  auto LBoard = std::make_shared<TLeavingBoard>();
  Bus->Plug(LBoard);
  Create();
  Loop.RunPending();
  TJvHidDevice* LDevice = nullptr;
  ASSERT_TRUE(Controller->CheckOut(LDevice));
  LBoard->Object = LDevice;
  std::atomic<bool> LWriting{true};
  std::thread LPasses([&] {
    while (LWriting) {
      Loop.RunPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::vector<uint8_t> LReport(kReportLength, 0xAC);
  uint32_t LWritten = 0;
  EXPECT_TRUE(LDevice->WriteFile(LReport.data(), kReportLength, LWritten));
  EXPECT_EQ(LWritten, kReportLength);
  LWriting = false;
  LPasses.join();
  EXPECT_FALSE(LDevice->WriteFile(LReport.data(), kReportLength, LWritten));
  Controller->CheckIn(LDevice);
}

TEST_F(TDevice, ShortReadBuffersAndLongWritesFailAndSayWhy) {
  std::vector<uint8_t> LLong(kReportLength + 1, 0xAC);
  uint32_t LWritten = 0;
  EXPECT_FALSE(Held->WriteFile(LLong.data(), kReportLength + 1, LWritten));
  EXPECT_THAT(Held->LastError().Reason, ::testing::HasSubstr("a write of 65 bytes is not the output report of 64"));
  EXPECT_TRUE(Held->WriteFile(LLong.data(), kReportLength, LWritten));
  ASSERT_TRUE(Held->OpenFileEx(omhRead));  // reports reach open read handles only
  Bus->PushInputReport(Board.get(), Report(0x3F));
  std::vector<uint8_t> LShort(kReportLength - 1, 0);
  EXPECT_FALSE(Held->ReadFileEx(LShort.data(), kReportLength - 1, nullptr));
  EXPECT_THAT(Held->LastError().Reason,
              ::testing::HasSubstr("a read buffer of 63 bytes is shorter than the input report of 64 bytes"));
  EXPECT_FALSE(Held->ReadPending());
  std::vector<uint8_t> LWhole(kReportLength, 0);
  ASSERT_TRUE(Held->ReadFileEx(LWhole.data(), kReportLength, nullptr));
  EXPECT_EQ(LWhole, Report(0x3F)) << "the report waited for a buffer that holds it";
  EXPECT_TRUE(Held->WaitForRead(100));
}

TEST_F(TDevice, ABoardThatCannotBeOpenedForWritingSaysWhereWhyAndWhatToDo) {
  Controller->CheckIn(Held);
  Board->CanOpenReadWrite = false;
  ASSERT_TRUE(Controller->CheckOutByID(Held, kBslVendorID, kBslProductID));
  EXPECT_FALSE(Held->OpenReadWrite());
  EXPECT_TRUE(Held->OpenFile()) << "still identified through a query-only handle";
  EXPECT_FALSE(Held->OpenReadWrite()) << "the query-only handle does not count";
  const TJvHidDeviceError LError = Held->LastError();
  EXPECT_EQ(LError.DevicePath, Held->PnPInfo().FDevicePath);
  EXPECT_EQ(LError.Code, 5u);
  EXPECT_EQ(LError.Reason, "Access is denied.");
  EXPECT_EQ(DeviceOpenErrorText(LError), "The board was found at " + Held->PnPInfo().FDevicePath +
                                             " but cannot be opened for reading and writing.\n"
                                             "Reason: Access is denied. (error 5).\n" + LError.Hint);
  EXPECT_FALSE(LError.Hint.empty());
  Board->CanOpenReadWrite = true;
  EXPECT_TRUE(Held->OpenReadWrite()) << "reopened with read and write access";
  EXPECT_TRUE(Held->HasReadWriteAccess());
}
