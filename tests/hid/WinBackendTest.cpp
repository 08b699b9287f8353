// The Windows backend, run under Wine: run-time binding of SetupAPI and
// HID.dll, a discovery pass started by the hidden window's first message,
// attribute reading, the window's error guard, and the overlapped read
// (ReadFileEx, SleepEx, CancelIoEx) and the write with its time limit on a
// named pipe standing in for a device; the loader client on that pipe with
// the system's failures put into the backend's own calls.
#include <gtest/gtest.h>
#include <windows.h>
#include <dbt.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "DllBinding.h"
#include "JvHidControllerClass.h"
#include "NotifyWindow.h"
#include "UsbLocation.h"
#include "WinHidPlatform.h"
#include "bsl_hid.h"

namespace {

constexpr DWORD kPumpMs = 2000;  // Wine delivers posted messages well within this

// Runs the thread's message loop until AUntil() or the time is up.
template <class F>
void PumpMessages(F AUntil) {
  const DWORD LStart = ::GetTickCount();
  while (!AUntil() && ::GetTickCount() - LStart < kPumpMs) {
    MSG LMessage;
    while (::PeekMessageW(&LMessage, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&LMessage);
      ::DispatchMessageW(&LMessage);
    }
    ::Sleep(5);
  }
}

TEST(TWinBinding, AllOrNothingAndCountedPerProcess) {
  using TTick = DWORD(WINAPI*)();
  TTick LTick = nullptr;
  TTick LMissing = nullptr;
  winbind::TDllBinding LBroken(L"kernel32.dll");
  EXPECT_FALSE(LBroken.Acquire({winbind::Bind("GetTickCount", LTick), winbind::Bind("NoSuchExport", LMissing)}));
  EXPECT_EQ(LTick, nullptr) << "nothing of a partly bound library is used";
  EXPECT_FALSE(LBroken.Bound());

  winbind::TDllBinding LGood(L"kernel32.dll");
  ASSERT_TRUE(LGood.Acquire({winbind::Bind("GetTickCount", LTick)}));
  ASSERT_TRUE(LGood.Acquire({winbind::Bind("GetTickCount", LTick)}));
  ASSERT_NE(LTick, nullptr);
  EXPECT_GT(LTick(), 0u);
  LGood.Release();
  EXPECT_TRUE(LGood.Bound()) << "one user left";
  LGood.Release();
  EXPECT_FALSE(LGood.Bound());
  EXPECT_FALSE(winbind::TDllBinding(L"no-such-library.dll").Acquire({}));
}

TEST(TWinPlatform, BindsSetupApiAndHidAndNamesTheHidClass) {
  hid::IHidPlatform& LPlatform = hid::OsPlatform();
  ASSERT_TRUE(LPlatform.Bind());
  EXPECT_EQ(LPlatform.HidGuid(), "{4D1E55B2-F16F-11CF-88CB-001111000030}");
  std::vector<hid::TDiscoveredInterface> LFound;
  EXPECT_TRUE(LPlatform.Enumerate(LFound));
  for (const auto& LInterface : LFound) {
    EXPECT_FALSE(LInterface.Path.empty());
    std::printf("interface %08X %s\n", static_cast<unsigned>(LInterface.DeviceID), LInterface.Path.c_str());
  }
  LPlatform.Unbind();
}

TEST(TWinController, FirstPassRunsFromTheWindowMessageAndReadsAttributes) {
  std::vector<hid::TDiscoveredInterface> LExpected;
  ASSERT_TRUE(hid::OsPlatform().Bind());
  hid::OsPlatform().Enumerate(LExpected);
  hid::OsPlatform().Unbind();

  TJvHidDeviceController LController;
  std::vector<std::string> LArrived;
  LController.OnArrival = [&](TJvHidDevice* D) {
    char LLine[128];
    std::snprintf(LLine, sizeof LLine, "%04X:%04X %s / %s", D->Attributes().VendorID, D->Attributes().ProductID,
                  D->VendorName().c_str(), D->ProductName().c_str());
    LArrived.push_back(LLine);
  };
  EXPECT_TRUE(LArrived.empty()) << "the first pass waits for the message loop";
  PumpMessages([&] { return LArrived.size() >= LExpected.size() && !LExpected.empty(); });
  EXPECT_EQ(LArrived.size(), LExpected.size());
  for (const std::string& LLine : LArrived) std::printf("arrival %s\n", LLine.c_str());
  EXPECT_EQ(LArrived.size(), LExpected.size());
  EXPECT_EQ(LController.Enumerate(), LExpected.empty() ? 0 : 1);
  EXPECT_EQ(LController.NumCheckedInDevices(), static_cast<int>(LExpected.size()));
  TJvHidDevice* LDevice = nullptr;
  if (LController.CheckOut(LDevice)) {
    const hid::THidCaps LCaps = LDevice->Caps();
    std::printf("caps: usage %04X:%04X in %u out %u\n", LCaps.UsagePage, LCaps.Usage, LCaps.InputReportByteLength,
                LCaps.OutputReportByteLength);
    EXPECT_NE(LDevice->Attributes().VendorID | LDevice->Attributes().ProductID, 0);
    LController.CheckIn(LDevice);
  }
}

// A notification only marks that a pass is due: nothing runs inside the
// system's call, a burst brings one pass, and passes begin at least 500 ms
// apart. A request from another thread counts as a notification.
TEST(TWinNotifyWindow, NotificationsMergeIntoOnePassOffTheSystemsCall) {
  std::vector<std::pair<int32_t, ULONGLONG>> LPasses;
  hid::win::TNotifyWindow LWindow([&](int32_t ALParam) { LPasses.push_back({ALParam, ::GetTickCount64()}); });
  ASSERT_NE(LWindow.Handle(), nullptr);
  PumpMessages([&] { return !LPasses.empty(); });
  ASSERT_EQ(LPasses.size(), 1u);
  EXPECT_EQ(LPasses[0].first, -1);
  for (WPARAM LEvent : {DBT_DEVNODES_CHANGED, DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, DBT_DEVNODES_CHANGED})
    ::SendMessageW(LWindow.Handle(), WM_DEVICECHANGE, LEvent, 0);
  std::thread([&] { hid::win::TNotifyWindow::RequestPass(LWindow.Handle()); }).join();
  EXPECT_EQ(LPasses.size(), 1u) << "no pass inside the notification";
  PumpMessages([&] { return LPasses.size() > 2; });
  ASSERT_EQ(LPasses.size(), 2u) << "one pass for the burst";
  EXPECT_EQ(LPasses[1].first, 0);
  EXPECT_GE(LPasses[1].second - LPasses[0].second, 450u) << "500 ms apart, on a tick of up to 16 ms";
}

TEST(TWinNotifyWindow, ErrorsOfAPassGoToTheUnhandledErrorHandler) {
  std::vector<std::string> LReported;
  hid::SetUnhandledErrorHandler([&](const std::string& AMessage) { LReported.push_back(AMessage); });
  std::vector<int32_t> LSeen;
  {
    hid::win::TNotifyWindow LWindow([&](int32_t ALParam) {
      LSeen.push_back(ALParam);
      throw EControllerError("Device cannot be opened");
    });
    ASSERT_NE(LWindow.Handle(), nullptr);
    PumpMessages([&] { return !LReported.empty(); });
  }
  hid::SetUnhandledErrorHandler(nullptr);
  ASSERT_EQ(LSeen.size(), 1u);
  EXPECT_EQ(LSeen[0], -1);
  ASSERT_EQ(LReported.size(), 1u);
  EXPECT_EQ(LReported[0], "Device cannot be opened");
}

// ---- the overlapped read, on a named pipe ----

class TWinRead : public ::testing::Test {
 protected:
  void SetUp() override {
    Server = ::CreateNamedPipeW(kPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                                kReport, kReport, 0, nullptr);
    ASSERT_NE(Server, INVALID_HANDLE_VALUE);
    Read = hid::OsPlatform().Open("\\\\.\\pipe\\kestrova-hid-read-test", hid::TOpenAccess::OverlappedRead);
    ASSERT_NE(Read, hid::kInvalidHandle);
  }

  void TearDown() override {
    if (Read != hid::kInvalidHandle) hid::OsPlatform().Close(Read);
    while (hid::OsPlatform().AlertableWait(0)) {
    }
    if (Server != INVALID_HANDLE_VALUE) ::CloseHandle(Server);
  }

  void Send(uint8_t AFill) {
    std::vector<uint8_t> LReport(kReport, AFill);
    DWORD LWritten = 0;
    ASSERT_TRUE(::WriteFile(Server, LReport.data(), kReport, &LWritten, nullptr));
  }

  static constexpr const wchar_t* kPipe = L"\\\\.\\pipe\\kestrova-hid-read-test";
  static constexpr DWORD kReport = 8;
  HANDLE Server = INVALID_HANDLE_VALUE;
  hid::THidHandle Read = hid::kInvalidHandle;
};

TEST_F(TWinRead, CompletesOnlyInTheAlertableWait) {
  std::vector<uint8_t> LBuffer(kReport, 0);
  int LCalls = 0;
  uint32_t LError = 1, LCount = 0;
  auto LDone = [&](uint32_t AError, uint32_t ACount) {
    ++LCalls;
    LError = AError;
    LCount = ACount;
  };
  ASSERT_TRUE(hid::OsPlatform().StartRead(Read, LBuffer.data(), kReport, LDone));
  EXPECT_FALSE(hid::OsPlatform().StartRead(Read, LBuffer.data(), kReport, LDone)) << "one read per handle";
  EXPECT_FALSE(hid::OsPlatform().AlertableWait(20));
  Send(0x5A);
  ::Sleep(20);
  EXPECT_EQ(LCalls, 0) << "not before the thread waits alertably";
  EXPECT_TRUE(hid::OsPlatform().AlertableWait(1000));
  EXPECT_EQ(LCalls, 1);
  EXPECT_EQ(LError, 0u);
  EXPECT_EQ(LCount, kReport);
  EXPECT_EQ(LBuffer, std::vector<uint8_t>(kReport, 0x5A));
}

TEST_F(TWinRead, CancelledReadNeverWritesTheBufferAndReportsAbort) {
  std::vector<uint8_t> LBuffer(kReport, 0);
  int LCalls = 0;
  uint32_t LError = 0;
  ASSERT_TRUE(hid::OsPlatform().StartRead(Read, LBuffer.data(), kReport, [&](uint32_t AError, uint32_t) {
    ++LCalls;
    LError = AError;
  }));
  hid::OsPlatform().CancelRead(Read);
  Send(0x77);
  EXPECT_TRUE(hid::OsPlatform().AlertableWait(1000));
  EXPECT_EQ(LCalls, 1);
  EXPECT_EQ(LError, static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(LBuffer, std::vector<uint8_t>(kReport, 0));
  ASSERT_TRUE(hid::OsPlatform().StartRead(Read, LBuffer.data(), kReport, nullptr));
  EXPECT_EQ(LBuffer, std::vector<uint8_t>(kReport, 0x77)) << "the data waited for the next read";
}

TEST_F(TWinRead, WriteEndsWithinItsTimeLimitOrWhenAnotherThreadAbortsIt) {
  std::vector<uint8_t> LReport(kReport, 0x3F);
  uint32_t LWritten = 0;
  EXPECT_FALSE(hid::OsPlatform().Write(Read, LReport.data(), kReport, LWritten)) << "opened for reading only";
  hid::OsPlatform().Close(Read);
  ::CloseHandle(Server);
  Server = ::CreateNamedPipeW(L"\\\\.\\pipe\\kestrova-hid-write-test", PIPE_ACCESS_DUPLEX,
                              PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kReport, kReport, 0, nullptr);
  ASSERT_NE(Server, INVALID_HANDLE_VALUE);
  Read = hid::OsPlatform().Open("\\\\.\\pipe\\kestrova-hid-write-test", hid::TOpenAccess::ReadWrite);
  ASSERT_NE(Read, hid::kInvalidHandle);
  ASSERT_TRUE(hid::OsPlatform().Write(Read, LReport.data(), kReport, LWritten));
  EXPECT_EQ(LWritten, kReport);
  std::vector<uint8_t> LSeen(kReport, 0);
  DWORD LRead = 0;
  ASSERT_TRUE(::ReadFile(Server, LSeen.data(), kReport, &LRead, nullptr));
  EXPECT_EQ(LSeen, LReport);
  // A write the other side never takes is given up after its time limit
  // (a board that hangs), or earlier when another thread aborts it the way
  // an unplug does.
  std::vector<uint8_t> LLarge(16 * kReport, 0xAC);
  auto LWrite = [&] {
    return std::async(std::launch::async, [&] {
      uint32_t LCount = 1;
      const bool LOk = hid::OsPlatform().Write(Read, LLarge.data(), static_cast<uint32_t>(LLarge.size()), LCount);
      return std::make_pair(LOk, LOk ? 0u : hid::LastSystemError().Code);
    });
  };
  auto LLimited = LWrite();
  ASSERT_EQ(LLimited.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "no time limit";
  EXPECT_EQ(LLimited.get(), std::make_pair(false, static_cast<uint32_t>(ERROR_TIMEOUT)));
  auto LAborted = LWrite();
  EXPECT_EQ(LAborted.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
      << "the write should block";
  hid::OsPlatform().CancelIo(Read);
  ASSERT_EQ(LAborted.wait_for(std::chrono::milliseconds(kPumpMs)), std::future_status::ready);
  EXPECT_EQ(LAborted.get(), std::make_pair(false, static_cast<uint32_t>(ERROR_OPERATION_ABORTED)));
}

// ---- the loader client on the pipe, with the system's failures ----

// The driver behind the pipe, handed to the backend in place of the
// system's file services: every open of the board is a handle to the one
// client end; the row's transfers end with its status (kNever: they never
// end, not even when cancelled).
enum TFaultAt { kNone, kOpen, kWrite, kRead };
constexpr LONG kNever = 0;
struct TFaultRow {
  const char* Name;
  TFaultAt At;
  LONG Status;          // how the driver ends the transfer
  DWORD Error;          // the error a read's routine gets, or a refused open
  bool Listed;          // the board is among the present devices
  TBslFailureKind Kind;  // how the command ends
  DWORD Code;           // the system's error it carries
};
struct TDriver {
  TFaultRow Row{};
  HANDLE Server = nullptr, Client = nullptr;
  LPOVERLAPPED Read = nullptr;
  LPOVERLAPPED_COMPLETION_ROUTINE Routine = nullptr;
} GDriver;
constexpr wchar_t kBoard[] = L"\\\\.\\pipe\\kestrova-hid-board";

HANDLE WINAPI DriverOpen(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  HANDLE LHandle = INVALID_HANDLE_VALUE;
  if (GDriver.Row.At == kOpen)
    ::SetLastError(GDriver.Row.Error);
  else
    ::DuplicateHandle(::GetCurrentProcess(), GDriver.Client, ::GetCurrentProcess(), &LHandle, 0, 0,
                      DUPLICATE_SAME_ACCESS);
  return LHandle;
}

BOOL WINAPI DriverWrite(HANDLE AFile, LPCVOID AData, DWORD ALength, LPDWORD ADone, LPOVERLAPPED AOverlapped) {
  if (GDriver.Row.At != kWrite) return ::WriteFile(AFile, AData, ALength, ADone, AOverlapped);
  AOverlapped->Internal = GDriver.Row.Status == kNever ? STATUS_PENDING : static_cast<ULONG>(GDriver.Row.Status);
  (GDriver.Row.Status != kNever ? ::SetEvent : ::ResetEvent)(AOverlapped->hEvent);  // as the system does
  ::SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

void CALLBACK DriverReadEnds(ULONG_PTR) {
  GDriver.Read->Internal = static_cast<ULONG>(GDriver.Row.Status);
  GDriver.Routine(GDriver.Row.Error, 0, GDriver.Read);
}

BOOL WINAPI DriverRead(HANDLE AFile, LPVOID AData, DWORD ALength, LPOVERLAPPED AOverlapped,
                       LPOVERLAPPED_COMPLETION_ROUTINE ARoutine) {
  if (GDriver.Row.At != kRead) return ::ReadFileEx(AFile, AData, ALength, AOverlapped, ARoutine);
  std::tie(AOverlapped->Internal, GDriver.Read, GDriver.Routine) = std::tuple(STATUS_PENDING, AOverlapped, ARoutine);
  if (GDriver.Row.Status != kNever) ::QueueUserAPC(&DriverReadEnds, ::GetCurrentThread(), 0);
  return TRUE;
}

BOOL WINAPI DriverCancel(HANDLE AFile, LPOVERLAPPED AOverlapped) {
  return GDriver.Row.At == kWrite || GDriver.Row.At == kRead ? TRUE : ::CancelIoEx(AFile, AOverlapped);
}

// The board as the controller sees it: the loader's identity and reports.
struct TPipeBoard : hid::win::TWinHidPlatform {
  TPipeBoard() { FFile = {&DriverOpen, &DriverWrite, &DriverRead, &DriverCancel}; }
  bool Bind() override { return true; }
  void Unbind() override {}
  bool Enumerate(std::vector<hid::TDiscoveredInterface>& AOut) override {
    AOut.assign(GDriver.Row.Listed ? 1 : 0, {"\\\\.\\pipe\\kestrova-hid-board", 1, ""});
    return true;
  }
  bool GetAttributes(hid::THidHandle, hid::THidAttributes& AOut) override {
    return std::tie(AOut.VendorID, AOut.ProductID) = std::pair(0x2047, 0x0200), true;
  }
  hid::TPreparsedData GetPreparsedData(hid::THidHandle) override { return std::make_shared<int>(0); }
  bool GetCaps(const hid::TPreparsedData&, hid::THidCaps& AOut) override {
    return AOut.InputReportByteLength = AOut.OutputReportByteLength = 64, true;
  }
  bool GetManufacturerString(hid::THidHandle, std::string&) override { return false; }
  bool GetProductString(hid::THidHandle, std::string&) override { return false; }
  bool GetNumInputBuffers(hid::THidHandle, uint32_t&) override { return false; }
  bool FlushQueue(hid::THidHandle) override { return true; }
  void WatchChanges(hid::TChangeNotify ANotify) override { ANotify(-1); }
  void UnwatchChanges() override {}
};

// Each failure of the system ends the loader's command with the cause that
// matches it, within the limits of the waits: never a refused password,
// never a success, never a hang.
TEST(TWinFaults, EachSystemFailureEndsTheLoaderCommandWithItsCauseInTime) {
  using enum TBslFailureKind;
  const TFaultRow kRows[] = {
      {"no failure", kNone, 0, 0, true, None, 0},
      {"write: ERROR_GEN_FAILURE", kWrite, LONG(0xC0000001), 0, true, NotWritten, ERROR_GEN_FAILURE},
      {"write: ERROR_DEVICE_NOT_CONNECTED", kWrite, LONG(0xC000009D), 0, true, Gone, ERROR_DEVICE_NOT_CONNECTED},
      {"write: ERROR_OPERATION_ABORTED", kWrite, LONG(0xC0000120), 0, true, NotWritten, ERROR_OPERATION_ABORTED},
      {"write: never ends", kWrite, kNever, 0, true, NotWritten, ERROR_TIMEOUT},
      {"read: ERROR_GEN_FAILURE", kRead, LONG(0xC0000001), ERROR_GEN_FAILURE, true, ReadFailed, ERROR_GEN_FAILURE},
      {"read: ERROR_OPERATION_ABORTED", kRead, LONG(0xC0000120), ERROR_OPERATION_ABORTED, true, ReadFailed, 995},
      {"read: the board is being removed", kRead, LONG(0xC0000056), ERROR_ACCESS_DENIED, true, Gone, 1167},
      {"read: never ends", kRead, kNever, 0, true, NoAnswer, 0},
      {"open: access denied, another program has it", kOpen, 0, ERROR_ACCESS_DENIED, true, NotWritten, 5},
      {"open: access denied, the board is being removed", kOpen, 0, ERROR_ACCESS_DENIED, false, Gone, 1167},
      {"open: ERROR_DEV_NOT_EXIST", kOpen, 0, ERROR_DEV_NOT_EXIST, true, Gone, 1167},
  };
  for (const TFaultRow& LRow : kRows) {
    SCOPED_TRACE(LRow.Name);
    GDriver = {{"", kNone, 0, 0, true, None, 0}};
    GDriver.Server = ::CreateNamedPipeW(kBoard, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 64, 64, 0, nullptr);
    GDriver.Client =
        ::CreateFileW(kBoard, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    std::thread LLoader([] {  // answers every report with the loader's "success"
      uint8_t LReport[64], LAnswer[64] = {0x3F, 2, 0x3B, 0x00};
      for (DWORD LCount = 0; ::ReadFile(GDriver.Server, LReport, 64, &LCount, nullptr);)
        ::WriteFile(GDriver.Server, LAnswer, 64, &LCount, nullptr);
    });
    {
      TPipeBoard LPlatform;
      TJvHidDeviceController LController(nullptr, &LPlatform);
      TJvHidDevice* LDevice = nullptr;
      ASSERT_TRUE(LController.CheckOutByID(LDevice, 0x2047, 0x0200));
      GDriver.Row = LRow;
      TBsl LBsl;
      LBsl.SetHidDev(LDevice);
      const auto LStart = std::chrono::steady_clock::now();
      EXPECT_EQ(LBsl.cmd_SendPassword(TBsl_PasswordData{}), LRow.Kind == None);
      EXPECT_LT(std::chrono::steady_clock::now() - LStart, std::chrono::seconds(4)) << "a wait without a limit";
      EXPECT_EQ(LBsl.LastFailure().Kind, LRow.Kind);
      EXPECT_EQ(LBsl.LastFailure().SystemCode, LRow.Code) << LBsl.LastFailure().SystemReason;
      GDriver.Row.At = kNone;
      LController.CheckIn(LDevice);
    }
    ::CloseHandle(GDriver.Client);  // the loader's read ends
    LLoader.join();
    ::CloseHandle(GDriver.Server);
  }
}

}  // namespace

TEST(TWinPorts, TheLocationPathThatStartsAtThePciRoot) {
  EXPECT_EQ(hid::win::PciRootEntry(L"ACPI(_SB_)#ACPI(PCI0)#ACPI(HS03)\0PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)\0"),
            L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)");
  EXPECT_EQ(hid::win::PciRootEntry(L"ACPI(_SB_)#ACPI(HS03)\0"), L"ACPI(_SB_)#ACPI(HS03)");
}
