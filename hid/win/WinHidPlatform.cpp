#include "WinHidPlatform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "CfgMgr.h"
#include "Hid.h"
#include "JvSetupApi.h"
#include "ThreadLocals.h"
#include "UsbLocation.h"

namespace hid::win {
namespace {

// Flags of SetupDiGetClassDevsW: present devices, by interface class (0x12).
constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
// 254 UTF-16 code units (508 bytes): the longest USB string descriptor.
constexpr ULONG kStringBufferBytes = 508;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A report the device has not taken within this is given up: a board that
// hangs must not hold the update (or an unplug waiting for it) for ever.
constexpr DWORD kWriteLimitMs = 1000;
// A cancelled transfer the driver has not ended within this is left to
// the system with its own record and buffer: a driver that never ends a
// cancel must not turn a limited wait into a hang.
constexpr DWORD kCancelLimitMs = 1000;
constexpr DWORD kCancelPollMs = 1;  // ReadFileEx signals no event: its end is polled
// Windows' "The specified device does not exist" (winerror.h of the
// Windows SDK; mingw-w64's headers leave it out).
constexpr DWORD kErrorNoSuchDevice = 433;

// The sizes SetupAPI checks are those of this build's own structures:
// 28/28/6 on 32-bit Windows, 32/32/8 on x64.
#ifdef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32 && sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);
#endif
static_assert(sizeof(HIDP_CAPS) == sizeof(THidCaps), "capabilities are copied as they are");
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

HANDLE AsHandle(THidHandle AHandle) { return reinterpret_cast<HANDLE>(AHandle); }

std::string ToUtf8(const wchar_t* AText, int ALength) {
  if (ALength <= 0) return {};
  const int LBytes = ::WideCharToMultiByte(CP_UTF8, 0, AText, ALength, nullptr, 0, nullptr, nullptr);
  std::string LOut(static_cast<size_t>(LBytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, AText, ALength, LOut.data(), LBytes, nullptr, nullptr);
  return LOut;
}

std::wstring ToWide(const std::string& AText) {
  if (AText.empty()) return {};
  const int LChars = ::MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
  std::wstring LOut(static_cast<size_t>(LChars), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), LOut.data(), LChars);
  return LOut;
}

std::string ToUtf8Text(const std::wstring& AText) { return ToUtf8(AText.data(), static_cast<int>(AText.size())); }

std::string SystemText(DWORD LCode) {
  wchar_t* LText = nullptr;
  const DWORD LLength = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, LCode, 0,
      reinterpret_cast<wchar_t*>(&LText), 0, nullptr);
  std::wstring LMessage(LText ? LText : L"", LLength);
  if (LText) ::LocalFree(LText);
  while (!LMessage.empty() && (LMessage.back() == L'\n' || LMessage.back() == L'\r')) LMessage.pop_back();
  return ToUtf8Text(LMessage);
}

// GetLastError and the system's text for it, as the calling thread's last error.
void RecordLastError() {
  const DWORD LCode = ::GetLastError();
  SetLastSystemError(LCode, SystemText(LCode));
}

// A device that is being removed refuses I/O on a handle that was open
// (its pending reads end with STATUS_DELETE_PENDING, which Windows reports
// as ERROR_ACCESS_DENIED) and opens of its path (access denied, or "no
// such device"): the board is leaving, which the caller knows by
// ERROR_DEVICE_NOT_CONNECTED. The system's own code stays in the text.
void RecordLeaving(DWORD ACode, const char* AWhat) {
  SetLastSystemError(ERROR_DEVICE_NOT_CONNECTED, "The device is being removed (" + std::string(AWhat) + ": " +
                                                     SystemText(ACode) + ", error " + std::to_string(ACode) + ").");
}

// The failed read or write on an open handle, ACode, as the calling
// thread's last error: the board leaving, or the system's own words.
void RecordIoError(DWORD ACode, const char* AWhat) {
  if (ACode == ERROR_ACCESS_DENIED || ACode == ERROR_DEV_NOT_EXIST)
    RecordLeaving(ACode, AWhat);
  else
    SetLastSystemError(ACode, SystemText(ACode));
}

// Ends a transfer the device did not end in time: cancels it and waits for
// its end as long as a cancel may take. False when the driver did not end
// it: the record and the buffer then belong to the system for good.
bool CancelAndWait(const TFileCalls& AFile, HANDLE AHandle, OVERLAPPED& AOverlapped) {
  AFile.Cancel(AHandle, &AOverlapped);
  return ::WaitForSingleObject(AOverlapped.hEvent, kCancelLimitMs) == WAIT_OBJECT_0;
}

GUID HidInterfaceClass() {
  GUID LGuid;
  HidApi().GetHidGuid(&LGuid);
  return LGuid;
}

// One interface of the set: its path, its device instance and its port.
bool InterfaceAt(HDEVINFO ASet, const GUID& AClass, DWORD AIndex, bool& AEnd, TDiscoveredInterface& AOut) {
  SP_DEVICE_INTERFACE_DATA LInterface{};
  LInterface.cbSize = sizeof LInterface;
  AEnd = !SetupApi().EnumDeviceInterfaces(ASet, nullptr, &AClass, AIndex, &LInterface);
  if (AEnd) return false;
  SP_DEVINFO_DATA LDevice{};
  LDevice.cbSize = sizeof LDevice;
  DWORD LSize = 0;
  SetupApi().GetDeviceInterfaceDetailW(ASet, &LInterface, nullptr, 0, &LSize, &LDevice);
  if (LSize == 0 || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  std::vector<uint8_t> LBuffer(LSize, 0);
  auto* LDetail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(LBuffer.data());
  LDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupApi().GetDeviceInterfaceDetailW(ASet, &LInterface, LDetail, LSize, nullptr, &LDevice)) return false;
  const size_t LPathChars = (LSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
  AOut.Path = ToUtf8(LDetail->DevicePath, static_cast<int>(::wcsnlen(LDetail->DevicePath, LPathChars)));
  AOut.DeviceID = LDevice.DevInst;
  AOut.Port = ToUtf8Text(UsbLocationOf(LDevice.DevInst));
  return true;
}

// Every handle is opened for overlapped I/O: a write waits for its report
// only as long as the time limit allows, and HID.dll's queries work on such
// handles as on any other.
DWORD AccessFor(TOpenAccess AAccess) {
  switch (AAccess) {
    case TOpenAccess::ReadWrite: return GENERIC_READ | GENERIC_WRITE;
    case TOpenAccess::QueryOnly: return 0;
    case TOpenAccess::OverlappedRead: return GENERIC_READ;
    case TOpenAccess::OverlappedWrite: return GENERIC_WRITE;
  }
  return 0;
}

const TThreadLocalsSafe kThreadLocalsSafe;

// What one write hands to the system: its record, the event that record
// signals, and the report. One per thread, reused; given up to the system
// (never freed) when a driver keeps a cancelled write for good.
struct TWriteSlot {
  OVERLAPPED Overlapped{};
  HANDLE Event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<uint8_t> Report;
  ~TWriteSlot() {
    if (Event) ::CloseHandle(Event);
  }
};

std::unique_ptr<TWriteSlot>& ThreadWriteSlot() {
  thread_local std::unique_ptr<TWriteSlot> LSlot;
  if (!LSlot) LSlot = std::make_unique<TWriteSlot>();
  return LSlot;
}

using THidStringReader = BOOLEAN(__stdcall*)(HANDLE, PVOID, ULONG);

bool ReadHidString(THidStringReader AReader, THidHandle AHandle, std::string& AOut) {
  wchar_t LBuffer[kStringBufferBytes / sizeof(wchar_t)] = {};
  if (!AReader(AsHandle(AHandle), LBuffer, kStringBufferBytes)) return false;
  AOut = ToUtf8(LBuffer, static_cast<int>(::wcsnlen(LBuffer, kStringBufferBytes / sizeof(wchar_t))));
  return true;
}

}  // namespace

// One outstanding read. The record outlives the handle: it keeps itself
// alive until the system has delivered its completion routine; a thread
// cancelling it holds its own reference meanwhile. The system reads into
// the record's own buffer, copied to the caller's once the read has ended
// and while the caller still waits for it: a read whose cancel the driver
// never ends keeps the record, never the caller's buffer.
struct TWinHidPlatform::TRead {
  OVERLAPPED Overlapped{};  // first member: the routine gets its address
  TWinHidPlatform* Platform = nullptr;
  THidHandle Handle = kInvalidHandle;
  TReadCompletion Completion;
  std::shared_ptr<TRead> Self;
  std::vector<uint8_t> Report;
  uint8_t* Caller = nullptr;  // null once the report went there, or must not
};

// ---- binding and discovery ----

bool TWinHidPlatform::Bind() {
  if (!LoadSetupApi()) return false;
  if (LoadCfgMgr()) {
    if (LoadHid()) return true;
    UnloadCfgMgr();
  }
  UnloadSetupApi();
  return false;
}

void TWinHidPlatform::Unbind() {
  UnloadHid();
  UnloadCfgMgr();
  UnloadSetupApi();
}

std::string TWinHidPlatform::HidGuid() {
  if (!IsHidLoaded()) return {};
  const GUID LGuid = HidInterfaceClass();
  char LText[40];
  std::snprintf(LText, sizeof LText, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", LGuid.Data1,
                LGuid.Data2, LGuid.Data3, LGuid.Data4[0], LGuid.Data4[1], LGuid.Data4[2], LGuid.Data4[3],
                LGuid.Data4[4], LGuid.Data4[5], LGuid.Data4[6], LGuid.Data4[7]);
  return LText;
}

bool TWinHidPlatform::Enumerate(std::vector<TDiscoveredInterface>& AOut) {
  AOut.clear();
  if (!IsSetupApiLoaded() || !IsHidLoaded()) return false;
  const GUID LClass = HidInterfaceClass();
  HDEVINFO LSet = SetupApi().GetClassDevsW(&LClass, nullptr, nullptr, kPresentInterfaces);
  if (LSet == INVALID_HANDLE_VALUE) return false;
  bool LEnd = false;
  for (DWORD LIndex = 0; !LEnd; ++LIndex) {
    TDiscoveredInterface LFound;
    if (InterfaceAt(LSet, LClass, LIndex, LEnd, LFound)) AOut.push_back(std::move(LFound));
  }
  SetupApi().DestroyDeviceInfoList(LSet);
  return true;
}

// ---- handles and queries ----

THidHandle TWinHidPlatform::Open(const std::string& APath, TOpenAccess AAccess) {
  HANDLE LHandle = FFile.Open(ToWide(APath).c_str(), AccessFor(AAccess), kShareReadWrite, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (LHandle != INVALID_HANDLE_VALUE) return reinterpret_cast<THidHandle>(LHandle);
  const DWORD LCode = ::GetLastError();
  // Access denied is also what another program's exclusive handle gets:
  // only a device whose interface has left the present ones is leaving.
  if (LCode == ERROR_DEV_NOT_EXIST || (LCode == ERROR_ACCESS_DENIED && !Present(APath)))
    RecordLeaving(LCode, "the open was refused");
  else
    SetLastSystemError(LCode, SystemText(LCode));
  return kInvalidHandle;
}

bool TWinHidPlatform::Present(const std::string& APath) {
  std::vector<TDiscoveredInterface> LFound;
  if (!Enumerate(LFound)) return true;  // cannot tell: as the system said
  const std::wstring LPath = ToWide(APath);
  for (const TDiscoveredInterface& LInterface : LFound)
    if (::CompareStringOrdinal(ToWide(LInterface.Path).c_str(), -1, LPath.c_str(), -1, TRUE) == CSTR_EQUAL)
      return true;
  return false;
}

void TWinHidPlatform::Close(THidHandle AHandle) {
  CancelRead(AHandle);
  ::CloseHandle(AsHandle(AHandle));
}

bool TWinHidPlatform::GetAttributes(THidHandle AHandle, THidAttributes& AOut) {
  HIDD_ATTRIBUTES LAttributes{};
  LAttributes.Size = sizeof LAttributes;
  if (!HidApi().GetAttributes(AsHandle(AHandle), &LAttributes)) {
    RecordLastError();
    return false;
  }
  AOut.VendorID = LAttributes.VendorID;
  AOut.ProductID = LAttributes.ProductID;
  AOut.VersionNumber = LAttributes.VersionNumber;
  return true;
}

bool TWinHidPlatform::GetManufacturerString(THidHandle AHandle, std::string& AOut) {
  return ReadHidString(HidApi().GetManufacturerString, AHandle, AOut);
}

bool TWinHidPlatform::GetProductString(THidHandle AHandle, std::string& AOut) {
  return ReadHidString(HidApi().GetProductString, AHandle, AOut);
}

TPreparsedData TWinHidPlatform::GetPreparsedData(THidHandle AHandle) {
  PHIDP_PREPARSED_DATA LData = nullptr;
  if (!HidApi().GetPreparsedData(AsHandle(AHandle), &LData) || !LData) return {};
  const auto LFree = HidApi().FreePreparsedData;
  return TPreparsedData(LData, [LFree](const void* AData) {
    LFree(static_cast<PHIDP_PREPARSED_DATA>(const_cast<void*>(AData)));
  });
}

bool TWinHidPlatform::GetCaps(const TPreparsedData& AData, THidCaps& AOut) {
  HIDP_CAPS LCaps{};
  auto* LData = static_cast<PHIDP_PREPARSED_DATA>(const_cast<void*>(AData.get()));
  if (!LData || HidApi().GetCaps(LData, &LCaps) != HIDP_STATUS_SUCCESS) return false;
  std::memcpy(static_cast<void*>(&AOut), &LCaps, sizeof AOut);  // same layout, checked above
  return true;
}

bool TWinHidPlatform::SetNumInputBuffers(THidHandle AHandle, uint32_t ACount) {
  return HidApi().SetNumInputBuffers(AsHandle(AHandle), ACount);
}

bool TWinHidPlatform::GetNumInputBuffers(THidHandle AHandle, uint32_t& ACount) {
  ULONG LCount = 0;
  if (!HidApi().GetNumInputBuffers(AsHandle(AHandle), &LCount)) return false;
  ACount = LCount;
  return true;
}

bool TWinHidPlatform::FlushQueue(THidHandle AHandle) { return HidApi().FlushQueue(AsHandle(AHandle)); }

// ---- report I/O ----

bool TWinHidPlatform::Write(THidHandle AHandle, const uint8_t* AData, uint32_t ALength, uint32_t& AWritten) {
  AWritten = 0;
  std::unique_ptr<TWriteSlot>& LSlot = ThreadWriteSlot();
  if (!LSlot->Event) {
    RecordLastError();
    return false;
  }
  LSlot->Overlapped = OVERLAPPED{};
  LSlot->Overlapped.hEvent = LSlot->Event;
  LSlot->Report.assign(AData, AData + ALength);
  const HANDLE LHandle = AsHandle(AHandle);
  DWORD LCount = 0;
  BOOL LOk = FFile.Write(LHandle, LSlot->Report.data(), ALength, nullptr, &LSlot->Overlapped);
  if (LOk || ::GetLastError() == ERROR_IO_PENDING) {
    const bool LInTime = ::WaitForSingleObject(LSlot->Event, kWriteLimitMs) == WAIT_OBJECT_0;
    if (!LInTime && !CancelAndWait(FFile, LHandle, LSlot->Overlapped)) {
      (void)LSlot.release();  // the system's now; the next write gets a new one
      SetLastSystemError(ERROR_TIMEOUT, "The device took the report neither within " +
                                            std::to_string(kWriteLimitMs) + " ms nor ended the write within " +
                                            std::to_string(kCancelLimitMs) + " ms of its cancel.");
      return false;
    }
    // The write has ended (in time, or cancelled): its result, at once.
    LOk = ::GetOverlappedResult(LHandle, &LSlot->Overlapped, &LCount, FALSE);
    if (!LOk && !LInTime && ::GetLastError() == ERROR_OPERATION_ABORTED) ::SetLastError(ERROR_TIMEOUT);
  }
  if (!LOk) {
    // More than one report: the HID class driver refuses it.
    RecordIoError(::GetLastError(), "the write was refused");
    return false;
  }
  // The HID class driver sends the whole report or fails, and Windows
  // counts the whole report, ID byte included. Wine 8's class driver
  // counts one byte less for a report with an ID; the whole report is
  // what went out on both.
  AWritten = ALength;
  return true;
}

void TWinHidPlatform::CancelIo(THidHandle AHandle) { FFile.Cancel(AsHandle(AHandle), nullptr); }

std::string TWinHidPlatform::OpenFailureHint(uint32_t ACode) {
  if (ACode == ERROR_ACCESS_DENIED || ACode == ERROR_SHARING_VIOLATION)
    return "Close every other program that uses the board, then try again.";
  return "Connect the board again, press its button and try again.";
}

// A HID device pulled from the bus fails its I/O with one of these (a
// device being removed is reported as not connected, see RecordLeaving);
// an open of a path that left fails with ERROR_FILE_NOT_FOUND.
bool TWinHidPlatform::DeviceGoneError(uint32_t ACode) {
  return ACode == ERROR_DEVICE_NOT_CONNECTED || ACode == kErrorNoSuchDevice || ACode == ERROR_DEV_NOT_EXIST ||
         ACode == ERROR_DEVICE_REMOVED || ACode == ERROR_FILE_NOT_FOUND;
}

bool TWinHidPlatform::StartRead(THidHandle AHandle, uint8_t* ABuffer, uint32_t ALength,
                                TReadCompletion ACompletion) {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (FReads.count(AHandle)) return false;  // one read per handle
  auto LRead = std::make_shared<TRead>();
  LRead->Platform = this;
  LRead->Handle = AHandle;
  LRead->Completion = std::move(ACompletion);
  LRead->Report.assign(ALength, 0);
  LRead->Caller = ABuffer;
  if (!FFile.Read(AsHandle(AHandle), LRead->Report.data(), ALength, &LRead->Overlapped,
                    &TWinHidPlatform::ReadDone)) {
    // A buffer shorter than the input report is refused here.
    RecordIoError(::GetLastError(), "the read was refused");
    return false;
  }
  LRead->Self = LRead;
  TakeReport(*LRead);  // a report already queued is there now
  FReads[AHandle] = std::move(LRead);
  return true;
}

void TWinHidPlatform::TakeReport(TRead& ARead) {
  if (ARead.Caller == nullptr || !HasOverlappedIoCompleted(&ARead.Overlapped)) return;
  if (ARead.Overlapped.Internal == 0)  // STATUS_SUCCESS
    std::memcpy(ARead.Caller, ARead.Report.data(),
                std::min<size_t>(ARead.Overlapped.InternalHigh, ARead.Report.size()));
  ARead.Caller = nullptr;
}

void CALLBACK TWinHidPlatform::ReadDone(DWORD AError, DWORD ACount, LPOVERLAPPED AOverlapped) {
  auto* LRead = reinterpret_cast<TRead*>(AOverlapped);
  std::shared_ptr<TRead> LKeep = std::move(LRead->Self);
  LRead->Platform->Finished(LRead);
  TReadCompletion LCompletion = std::move(LRead->Completion);
  // A device being removed ends a pending read with STATUS_DELETE_PENDING,
  // ERROR_ACCESS_DENIED: the board is leaving, and is told so.
  if (AError == ERROR_ACCESS_DENIED || AError == ERROR_DEV_NOT_EXIST) AError = ERROR_DEVICE_NOT_CONNECTED;
  if (LCompletion) LCompletion(AError, ACount);
}

void TWinHidPlatform::Finished(TRead* ARead) {
  std::lock_guard<std::mutex> LGuard(FLock);
  TakeReport(*ARead);
  auto LIt = FReads.find(ARead->Handle);
  if (LIt != FReads.end() && LIt->second.get() == ARead) FReads.erase(LIt);
}

void TWinHidPlatform::CancelRead(THidHandle AHandle) {
  std::shared_ptr<TRead> LRead;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    auto LIt = FReads.find(AHandle);
    if (LIt == FReads.end()) return;
    LRead = std::move(LIt->second);
    FReads.erase(LIt);
  }
  FFile.Cancel(AsHandle(AHandle), &LRead->Overlapped);
  // Waits for the end of this read alone, within the limit of a cancel (a
  // read started by ReadFileEx signals no event of its own; the handle is
  // signalled by any transfer on it). A report that came before the
  // cancel is the caller's; after this, nothing reaches its buffer.
  const DWORD LStart = ::GetTickCount();
  while (!HasOverlappedIoCompleted(&LRead->Overlapped) && ::GetTickCount() - LStart < kCancelLimitMs)
    ::Sleep(kCancelPollMs);
  std::lock_guard<std::mutex> LGuard(FLock);
  TakeReport(*LRead);
  LRead->Caller = nullptr;  // a read the driver keeps has the record's buffer only
}

bool TWinHidPlatform::AlertableWait(uint32_t ATimeoutMs) {
  return ::SleepEx(ATimeoutMs, TRUE) == WAIT_IO_COMPLETION;
}

// ---- notifications ----

void TWinHidPlatform::WatchChanges(TChangeNotify ANotify) {
  UnwatchChanges();
  FWindow = std::make_unique<TNotifyWindow>(std::move(ANotify));
  FWindowHandle = FWindow->Handle();
}

void TWinHidPlatform::UnwatchChanges() {
  FWindowHandle = nullptr;
  FWindow.reset();
}

// From any thread: what the window does with the message is its own
// thread's business, and a window already gone just does not take it.
void TWinHidPlatform::RequestChange() {
  if (HWND LWindow = FWindowHandle.load()) TNotifyWindow::RequestPass(LWindow);
}

}  // namespace hid::win

namespace hid {

IHidPlatform& OsPlatform() {
  static win::TWinHidPlatform LPlatform;
  return LPlatform;
}

}  // namespace hid
