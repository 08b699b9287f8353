#include "WinHidPlatform.h"

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

// GetLastError and the system's text for it, as the calling thread's last error.
void RecordLastError() {
  const DWORD LCode = ::GetLastError();
  wchar_t* LText = nullptr;
  const DWORD LLength = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, LCode, 0,
      reinterpret_cast<wchar_t*>(&LText), 0, nullptr);
  std::wstring LMessage(LText ? LText : L"", LLength);
  if (LText) ::LocalFree(LText);
  while (!LMessage.empty() && (LMessage.back() == L'\n' || LMessage.back() == L'\r')) LMessage.pop_back();
  SetLastSystemError(LCode, ToUtf8Text(LMessage));
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

// The event a thread's writes wait on, one per thread.
HANDLE WriteEvent() {
  struct TEvent {
    HANDLE Handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~TEvent() {
      if (Handle) ::CloseHandle(Handle);
    }
  };
  thread_local TEvent LEvent;
  return LEvent.Handle;
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
// cancelling it holds its own reference meanwhile.
struct TWinHidPlatform::TRead {
  OVERLAPPED Overlapped{};  // first member: the routine gets its address
  TWinHidPlatform* Platform = nullptr;
  THidHandle Handle = kInvalidHandle;
  TReadCompletion Completion;
  std::shared_ptr<TRead> Self;
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
  HANDLE LHandle = ::CreateFileW(ToWide(APath).c_str(), AccessFor(AAccess), kShareReadWrite, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (LHandle == INVALID_HANDLE_VALUE) RecordLastError();
  return reinterpret_cast<THidHandle>(LHandle);  // INVALID_HANDLE_VALUE is kInvalidHandle
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
  OVERLAPPED LOverlapped{};
  LOverlapped.hEvent = WriteEvent();
  if (!LOverlapped.hEvent) {
    RecordLastError();
    return false;
  }
  const HANDLE LHandle = AsHandle(AHandle);
  DWORD LCount = 0;
  BOOL LOk = ::WriteFile(LHandle, AData, ALength, nullptr, &LOverlapped);
  if (LOk || ::GetLastError() == ERROR_IO_PENDING) {
    const bool LInTime = ::WaitForSingleObject(LOverlapped.hEvent, kWriteLimitMs) == WAIT_OBJECT_0;
    if (!LInTime) ::CancelIoEx(LHandle, &LOverlapped);
    // Waits for the end of the write, also of a cancelled one: the system
    // may use the report and the record until then.
    LOk = ::GetOverlappedResult(LHandle, &LOverlapped, &LCount, TRUE);
    if (!LOk && !LInTime && ::GetLastError() == ERROR_OPERATION_ABORTED) ::SetLastError(ERROR_TIMEOUT);
  }
  if (!LOk) {
    RecordLastError();  // more than one report: the HID class driver refuses it
    return false;
  }
  // The HID class driver sends the whole report or fails, and Windows
  // counts the whole report, ID byte included. Wine 8's class driver
  // counts one byte less for a report with an ID; the whole report is
  // what went out on both.
  AWritten = ALength;
  return true;
}

void TWinHidPlatform::CancelIo(THidHandle AHandle) { ::CancelIoEx(AsHandle(AHandle), nullptr); }

std::string TWinHidPlatform::OpenFailureHint(uint32_t ACode) {
  if (ACode == ERROR_ACCESS_DENIED || ACode == ERROR_SHARING_VIOLATION)
    return "Close every other program that uses the board, then try again.";
  return "Connect the board again, press its button and try again.";
}

// A HID device pulled from the bus fails its I/O with one of these; an
// open of a path that left fails with ERROR_FILE_NOT_FOUND.
bool TWinHidPlatform::DeviceGoneError(uint32_t ACode) {
  return ACode == ERROR_DEVICE_NOT_CONNECTED || ACode == kErrorNoSuchDevice ||
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
  if (!::ReadFileEx(AsHandle(AHandle), ABuffer, ALength, &LRead->Overlapped, &TWinHidPlatform::ReadDone)) {
    RecordLastError();  // a buffer shorter than the input report is refused here
    return false;
  }
  LRead->Self = LRead;
  FReads[AHandle] = std::move(LRead);
  return true;
}

void CALLBACK TWinHidPlatform::ReadDone(DWORD AError, DWORD ACount, LPOVERLAPPED AOverlapped) {
  auto* LRead = reinterpret_cast<TRead*>(AOverlapped);
  std::shared_ptr<TRead> LKeep = std::move(LRead->Self);
  LRead->Platform->Finished(LRead);
  TReadCompletion LCompletion = std::move(LRead->Completion);
  if (LCompletion) LCompletion(AError, ACount);
}

void TWinHidPlatform::Finished(TRead* ARead) {
  std::lock_guard<std::mutex> LGuard(FLock);
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
  ::CancelIoEx(AsHandle(AHandle), &LRead->Overlapped);
  // Wait until the system is done with the buffer (the read handle has only
  // this one read, so the handle itself signals its end).
  DWORD LCount = 0;
  ::GetOverlappedResult(AsHandle(AHandle), &LRead->Overlapped, &LCount, TRUE);
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
