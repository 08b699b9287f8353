#include "SimBus.h"

#include "SimFrameClock.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <optional>
#include <stdexcept>

namespace sim {
namespace {

// Windows gives every new handle a queue of 32 input reports and accepts
// 2 to 512 from HidD_SetNumInputBuffers; the bus does the same.
constexpr uint32_t kDefaultInputBuffers = 32;
constexpr uint32_t kMinInputBuffers = 2;
constexpr uint32_t kMaxInputBuffers = 512;
// First identities handed out; any non-zero start would do, distinct
// ranges make a handle and a device ID hard to mix up in a trace.
constexpr uint32_t kFirstDeviceID = 0x1000;
constexpr hid::THidHandle kFirstHandle = 0x100;
// The simulated bus is bus 1: its ports are "1-1", "1-2", ..., named as
// Linux names them; a hub's ports add ".1", ".2", ... to the hub's port.
constexpr const char* kRootPortPrefix = "1-";
constexpr const char* kHubPortSeparator = ".";
// What Linux logs when a device's endpoints do not fit the periodic time
// left (usb_set_configuration), and the error it then gives (-ENOSPC).
constexpr const char* kNoBandwidth = ": Not enough bandwidth for new device state.";
constexpr const char* kConfigRefused = ": can't set config #1, error -28";
// The Windows errors the bus answers with, and their system texts.
constexpr uint32_t kErrorFileNotFound = 2;         // ERROR_FILE_NOT_FOUND
constexpr uint32_t kErrorAccessDenied = 5;         // ERROR_ACCESS_DENIED
constexpr uint32_t kErrorInvalidHandle = 6;        // ERROR_INVALID_HANDLE
constexpr uint32_t kErrorInvalidUserBuffer = 1784;  // ERROR_INVALID_USER_BUFFER

void SetInvalidHandle() { hid::SetLastSystemError(kErrorInvalidHandle, "The handle is invalid."); }
void SetNotConnected() { hid::SetLastSystemError(hid::kErrorDeviceNotConnected, "The device is not connected."); }

void SetLengthError(const std::string& AWhat) {
  hid::SetLastSystemError(kErrorInvalidUserBuffer,
                          "The supplied user buffer is not valid for the requested operation: " + AWhat);
}

bool CanRead(hid::TOpenAccess AAccess) {
  return AAccess == hid::TOpenAccess::ReadWrite || AAccess == hid::TOpenAccess::OverlappedRead;
}

bool CanWrite(hid::TOpenAccess AAccess) {
  return AAccess == hid::TOpenAccess::ReadWrite || AAccess == hid::TOpenAccess::OverlappedWrite;
}


}  // namespace

struct TSimBus::TSlot {
  std::shared_ptr<TSimDevice> Device;
  uint32_t DeviceID = 0;
  std::string Path;
  // Frames of the two endpoints when the device is frame-timed, else null,
  // and those of the translator it shares with the other ports of its hub.
  std::shared_ptr<TSimFrameClock> OutFrames, InFrames, SharedFrames;
  uint32_t Listed = 0;  // enumerations that have listed it
  bool NotReady = false;  // cannot be opened until it is listed a second time
};

struct TSimBus::TPendingRead {
  uint8_t* Buffer = nullptr;
  uint32_t Length = 0;
  hid::TReadCompletion Completion;
  std::shared_ptr<hid::TApcQueue> Queue;  // of the thread that started the read
};

struct TSimBus::THandle {
  std::shared_ptr<TSlot> Slot;
  hid::TOpenAccess Access = hid::TOpenAccess::QueryOnly;
  bool Dead = false;  // the device left the bus
  std::deque<std::vector<uint8_t>> Reports;
  uint32_t QueueLength = kDefaultInputBuffers;
  std::optional<TPendingRead> Read;
};

TSimBus::TSimBus() : FNextDeviceID(kFirstDeviceID), FNextHandle(kFirstHandle) {}

TSimBus::~TSimBus() {
  UnwatchChanges();
  std::vector<std::weak_ptr<TSimDevice>> LDevices;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LDevices = FEverPlugged;
  }
  for (const auto& LWeak : LDevices)
    if (auto LDevice = LWeak.lock()) LDevice->BusGone(*this);
  std::lock_guard<std::mutex> LGuard(FLock);
  for (auto& [LId, LHandle] : FHandles) CompleteRead(*LHandle, hid::kErrorOperationAborted, nullptr);
  for (auto& LSlot : FSlots) LSlot->Device->Bus = nullptr;
}

// ---- plugging ----

uint32_t TSimBus::Plug(std::shared_ptr<TSimDevice> ADevice) { return PlugAs(std::move(ADevice), 0); }

uint32_t TSimBus::PlugAs(std::shared_ptr<TSimDevice> ADevice, uint32_t ADeviceID) {
  if (!ADevice) throw std::invalid_argument("TSimBus::Plug: no device");
  uint32_t LId = 0;
  std::string LPort;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    if (FindSlotLocked(ADevice.get())) throw std::logic_error("TSimBus::Plug: device already plugged in");
    TSimDevice& LDevice = *ADevice;
    if (LDevice.Port.empty())
      LDevice.Port = NextFreePortLocked(LDevice.Hub ? LDevice.Hub->Port() + kHubPortSeparator : kRootPortPrefix);
    FPortsGiven.insert(LDevice.Port);
    const auto LKnown = std::find_if(FEverPlugged.begin(), FEverPlugged.end(),
                                     [&](const std::weak_ptr<TSimDevice>& W) { return W.lock() == ADevice; });
    if (LKnown == FEverPlugged.end()) FEverPlugged.push_back(ADevice);
    LPort = LDevice.Port;
    if (!LDevice.Hub || LDevice.Hub->Reserve(LDevice.InterruptEndpoints))
      LId = AddSlotLocked(std::move(ADevice), ADeviceID);
  }
  if (LId == 0) {
    Log("usb " + LPort + kNoBandwidth);
    Log("usb " + LPort + kConfigRefused);
    return 0;
  }
  PostChange(0);
  return LId;
}

uint32_t TSimBus::AddSlotLocked(std::shared_ptr<TSimDevice> ADevice, uint32_t ADeviceID) {
  auto LSlot = std::make_shared<TSlot>();
  LSlot->DeviceID = ADeviceID != 0 ? ADeviceID : FNextDeviceID++;
  LSlot->Path = "sim:hid#" + std::to_string(LSlot->DeviceID);
  LSlot->NotReady = ADevice->NotReadyAtFirstLook.exchange(false);
  LSlot->Device = std::move(ADevice);
  if (LSlot->Device->FrameTimed) {
    LSlot->OutFrames = std::make_shared<TSimFrameClock>();
    LSlot->InFrames = std::make_shared<TSimFrameClock>();
    if (LSlot->Device->Hub) LSlot->SharedFrames = LSlot->Device->Hub->SharedFrames();
  }
  LSlot->Device->Bus = this;
  FSlots.push_back(LSlot);
  return LSlot->DeviceID;
}

void TSimBus::Unplug(TSimDevice* ADevice) {
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    auto LSlot = FindSlotLocked(ADevice);
    if (!LSlot) return;
    FSlots.erase(std::find(FSlots.begin(), FSlots.end(), LSlot));
    if (ADevice->Hub) ADevice->Hub->Release(ADevice->InterruptEndpoints);
    for (auto& [LId, LHandle] : FHandles) {
      if (LHandle->Slot != LSlot) continue;
      LHandle->Dead = true;
      LHandle->Reports.clear();
      CompleteRead(*LHandle, hid::kErrorDeviceNotConnected, nullptr);
    }
    ADevice->Bus = nullptr;
  }
  PostChange(0);
}

bool TSimBus::IsPlugged(const TSimDevice* ADevice) const {
  std::lock_guard<std::mutex> LGuard(FLock);
  return FindSlotLocked(ADevice) != nullptr;
}

std::shared_ptr<TSimHub> TSimBus::AddHub(TSimHubKind AKind) {
  std::lock_guard<std::mutex> LGuard(FLock);
  FHubs.push_back(std::make_shared<TSimHub>(AKind, NextFreePortLocked(kRootPortPrefix)));
  return FHubs.back();
}

std::vector<std::shared_ptr<TSimHub>> TSimBus::Hubs() const {
  std::lock_guard<std::mutex> LGuard(FLock);
  return FHubs;
}

void TSimBus::ReservePort(const std::string& APort) {
  std::lock_guard<std::mutex> LGuard(FLock);
  FPortsGiven.insert(APort);
}

std::string TSimBus::NextFreePortLocked(const std::string& APrefix) {
  for (uint32_t LNumber = 1;; ++LNumber) {
    std::string LPort = APrefix + std::to_string(LNumber);
    if (FPortsGiven.insert(LPort).second) return LPort;
  }
}

void TSimBus::SetSystemLog(TSystemLog ALog) {
  std::lock_guard<std::mutex> LGuard(FLock);
  FSystemLog = std::move(ALog);
}

void TSimBus::Log(const std::string& ALine) {
  TSystemLog LLog;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LLog = FSystemLog;
  }
  if (LLog)
    LLog(ALine);
  else
    std::cerr << ALine << std::endl;
}

void TSimBus::PushInputReport(TSimDevice* ADevice, std::vector<uint8_t> AReport) {
  std::shared_ptr<TSimFrameClock> LFrames, LShared;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    auto LSlot = FindSlotLocked(ADevice);
    if (!LSlot) return;
    LFrames = LSlot->InFrames;
    LShared = LSlot->SharedFrames;
  }
  if (LFrames) LFrames->WaitForFrame(LShared.get());  // the host polls the IN endpoint once a frame
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LSlot = FindSlotLocked(ADevice);
  if (!LSlot) return;  // a device off the bus sends nothing
  AReport.resize(LSlot->Device->InputReportLength);
  for (auto& [LId, LHandle] : FHandles) {
    if (LHandle->Slot != LSlot || LHandle->Dead || !CanRead(LHandle->Access)) continue;
    if (LHandle->Read) {
      CompleteRead(*LHandle, 0, &AReport);
      continue;
    }
    LHandle->Reports.push_back(AReport);
    while (LHandle->Reports.size() > LHandle->QueueLength) LHandle->Reports.pop_front();
  }
}

// ---- test switches and inspection ----

void TSimBus::SetServicesAvailable(bool AValue) {
  std::lock_guard<std::mutex> LGuard(FLock);
  FServicesAvailable = AValue;
}

void TSimBus::SetEnumerationFails(bool AValue) {
  std::lock_guard<std::mutex> LGuard(FLock);
  FEnumerationFails = AValue;
}

size_t TSimBus::OpenHandleCount(const TSimDevice* ADevice) const {
  std::lock_guard<std::mutex> LGuard(FLock);
  return static_cast<size_t>(std::count_if(FHandles.begin(), FHandles.end(), [ADevice](const auto& H) {
    return !ADevice || H.second->Slot->Device.get() == ADevice;
  }));
}

int TSimBus::BindCount() const {
  std::lock_guard<std::mutex> LGuard(FLock);
  return FBindCount;
}

uint32_t TSimBus::DeviceID(const TSimDevice* ADevice) const {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LSlot = FindSlotLocked(ADevice);
  return LSlot ? LSlot->DeviceID : 0;
}

std::vector<std::shared_ptr<TSimDevice>> TSimBus::Devices() const {
  std::lock_guard<std::mutex> LGuard(FLock);
  std::vector<std::shared_ptr<TSimDevice>> LOut;
  for (const auto& LSlot : FSlots) LOut.push_back(LSlot->Device);
  return LOut;
}

// ---- binding and discovery ----

bool TSimBus::Bind() {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (!FServicesAvailable) return false;
  ++FBindCount;
  return true;
}

int TSimBus::EnumerationCount() const {
  std::lock_guard<std::mutex> LGuard(FLock);
  return FEnumerations;
}

void TSimBus::Unbind() {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (FBindCount > 0) --FBindCount;
}

bool TSimBus::Enumerate(std::vector<hid::TDiscoveredInterface>& AOut) {
  std::lock_guard<std::mutex> LGuard(FLock);
  AOut.clear();
  ++FEnumerations;
  if (FEnumerationFails) return false;
  for (const auto& LSlot : FSlots) {
    AOut.push_back({LSlot->Path, LSlot->DeviceID, LSlot->Device->Port});
    ++LSlot->Listed;
  }
  return true;
}

// ---- handles and queries ----

hid::THidHandle TSimBus::Open(const std::string& APath, hid::TOpenAccess AAccess) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LSlot = std::find_if(FSlots.begin(), FSlots.end(), [&](const auto& S) { return S->Path == APath; });
  if (LSlot == FSlots.end() || !(*LSlot)->Device->CanOpen || ((*LSlot)->NotReady && (*LSlot)->Listed < 2)) {
    hid::SetLastSystemError(kErrorFileNotFound, "The system cannot find the file specified.");
    return hid::kInvalidHandle;
  }
  if (AAccess != hid::TOpenAccess::QueryOnly && !(*LSlot)->Device->CanOpenReadWrite) {
    hid::SetLastSystemError(kErrorAccessDenied, "Access is denied.");
    return hid::kInvalidHandle;
  }
  auto LHandle = std::make_shared<THandle>();
  LHandle->Slot = *LSlot;
  LHandle->Access = AAccess;
  const hid::THidHandle LId = FNextHandle++;
  FHandles[LId] = std::move(LHandle);
  return LId;
}

void TSimBus::Close(hid::THidHandle AHandle) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LIt = FHandles.find(AHandle);
  if (LIt == FHandles.end()) return;
  CompleteRead(*LIt->second, hid::kErrorOperationAborted, nullptr);
  FHandles.erase(LIt);
}

bool TSimBus::GetAttributes(hid::THidHandle AHandle, hid::THidAttributes& AOut) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LHandle = LiveHandleLocked(AHandle);
  if (!LHandle || !LHandle->Slot->Device->CanIdentify) return false;
  const TSimDevice& LDevice = *LHandle->Slot->Device;
  AOut.VendorID = LDevice.VendorID;
  AOut.ProductID = LDevice.ProductID;
  AOut.VersionNumber = LDevice.Version;
  return true;
}

bool TSimBus::GetManufacturerString(hid::THidHandle AHandle, std::string& AOut) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LHandle = LiveHandleLocked(AHandle);
  if (!LHandle || LHandle->Slot->Device->Manufacturer.empty()) return false;
  AOut = LHandle->Slot->Device->Manufacturer;
  return true;
}

bool TSimBus::GetProductString(hid::THidHandle AHandle, std::string& AOut) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LHandle = LiveHandleLocked(AHandle);
  if (!LHandle || LHandle->Slot->Device->Product.empty()) return false;
  AOut = LHandle->Slot->Device->Product;
  return true;
}

hid::TPreparsedData TSimBus::GetPreparsedData(hid::THidHandle AHandle) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LHandle = LiveHandleLocked(AHandle);
  if (!LHandle) return {};
  const TSimDevice& LDevice = *LHandle->Slot->Device;
  auto LCaps = std::make_shared<hid::THidCaps>();
  LCaps->UsagePage = LDevice.UsagePage;
  LCaps->Usage = LDevice.Usage;
  LCaps->InputReportByteLength = LDevice.InputReportLength;
  LCaps->OutputReportByteLength = LDevice.OutputReportLength;
  return LCaps;
}

bool TSimBus::GetCaps(const hid::TPreparsedData& AData, hid::THidCaps& AOut) {
  if (!AData) return false;
  AOut = *static_cast<const hid::THidCaps*>(AData.get());
  return true;
}

bool TSimBus::SetNumInputBuffers(hid::THidHandle AHandle, uint32_t ACount) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LHandle = LiveHandleLocked(AHandle);
  if (!LHandle || ACount < kMinInputBuffers || ACount > kMaxInputBuffers) return false;
  LHandle->QueueLength = ACount;
  while (LHandle->Reports.size() > ACount) LHandle->Reports.pop_front();
  return true;
}

bool TSimBus::GetNumInputBuffers(hid::THidHandle AHandle, uint32_t& ACount) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LHandle = LiveHandleLocked(AHandle);
  if (!LHandle) return false;
  ACount = LHandle->QueueLength;
  return true;
}

bool TSimBus::FlushQueue(hid::THidHandle AHandle) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LHandle = LiveHandleLocked(AHandle);
  if (!LHandle) return false;
  LHandle->Reports.clear();
  return true;
}

// ---- report I/O ----

bool TSimBus::Write(hid::THidHandle AHandle, const uint8_t* AData, uint32_t ALength,
                    uint32_t& AWritten) {
  std::shared_ptr<TSimDevice> LDevice;
  std::shared_ptr<TSimFrameClock> LFrames, LShared;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    auto LHandle = FindHandleLocked(AHandle);
    if (!LHandle || !CanWrite(LHandle->Access)) {
      SetInvalidHandle();
      return false;
    }
    if (LHandle->Dead) {
      SetNotConnected();
      return false;
    }
    LDevice = LHandle->Slot->Device;
    LFrames = LHandle->Slot->OutFrames;
    LShared = LHandle->Slot->SharedFrames;
    // As on Windows, a write must be exactly one output report.
    if (LDevice->OutputReportLength == 0 || ALength != LDevice->OutputReportLength) {
      SetLengthError("a write of " + std::to_string(ALength) + " bytes is not the output report of " +
                     std::to_string(LDevice->OutputReportLength) + " bytes");
      return false;
    }
  }
  if (LFrames) LFrames->WaitForFrame(LShared.get());  // one OUT transaction per frame
  AWritten = LDevice->OnOutputReport(AData, ALength);  // no bus lock held
  if (!IsPlugged(LDevice.get())) {
    // Unplugged while the report was on its way: it did not arrive.
    AWritten = 0;
    SetNotConnected();
    return false;
  }
  LDevice->AfterOutputReport();
  return true;
}

bool TSimBus::StartRead(hid::THidHandle AHandle, uint8_t* ABuffer, uint32_t ALength,
                        hid::TReadCompletion ACompletion) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LHandle = FindHandleLocked(AHandle);
  if (!LHandle || LHandle->Access != hid::TOpenAccess::OverlappedRead || LHandle->Read) {
    SetInvalidHandle();
    return false;
  }
  if (LHandle->Dead) {  // as a write: the device left, the handle is still valid
    SetNotConnected();
    return false;
  }
  if (!ABuffer || ALength < LHandle->Slot->Device->InputReportLength) {
    SetLengthError("a read buffer of " + std::to_string(ALength) + " bytes is shorter than the input report of " +
                   std::to_string(LHandle->Slot->Device->InputReportLength) + " bytes");
    return false;
  }
  LHandle->Read = TPendingRead{ABuffer, ALength, std::move(ACompletion), hid::CurrentThreadApcQueue()};
  if (!LHandle->Reports.empty()) {
    std::vector<uint8_t> LReport = std::move(LHandle->Reports.front());
    LHandle->Reports.pop_front();
    CompleteRead(*LHandle, 0, &LReport);
  }
  return true;
}

void TSimBus::CancelRead(hid::THidHandle AHandle) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LHandle = FindHandleLocked(AHandle);
  if (LHandle) CompleteRead(*LHandle, hid::kErrorOperationAborted, nullptr);
}

void TSimBus::CompleteRead(THandle& AHandle, uint32_t AError, const std::vector<uint8_t>* AReport) {
  if (!AHandle.Read) return;
  TPendingRead LRead = std::move(*AHandle.Read);
  AHandle.Read.reset();
  uint32_t LCount = 0;
  if (AReport) {
    LCount = static_cast<uint32_t>(std::min<size_t>(LRead.Length, AReport->size()));
    std::memcpy(LRead.Buffer, AReport->data(), LCount);
  }
  LRead.Queue->Queue([LCompletion = std::move(LRead.Completion), AError, LCount] {
    if (LCompletion) LCompletion(AError, LCount);
  });
}

std::string TSimBus::OpenFailureHint(uint32_t ACode) {
  if (ACode == kErrorAccessDenied) return "Close every other program that uses the board, then try again.";
  return "Connect the board again, press its button and try again.";
}

bool TSimBus::AlertableWait(uint32_t ATimeoutMs) { return hid::AlertableWaitOnCurrentThread(ATimeoutMs); }

// ---- notifications ----

void TSimBus::WatchChanges(hid::TChangeNotify ANotify) {
  UnwatchChanges();
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    FWatch = std::make_shared<hid::TChangeWatch>(std::move(ANotify));
  }
  PostChange(-1);
}

void TSimBus::UnwatchChanges() {
  std::shared_ptr<hid::TChangeWatch> LWatch;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LWatch.swap(FWatch);
  }
  if (LWatch) LWatch->End();  // notifications already posted find nobody
}

void TSimBus::RequestChange() {
  if (auto LWatch = Watch()) LWatch->Request();
}

void TSimBus::PostChange(int32_t ALParam) {
  if (auto LWatch = Watch()) LWatch->Post(ALParam);
}

std::shared_ptr<hid::TChangeWatch> TSimBus::Watch() {
  std::lock_guard<std::mutex> LGuard(FLock);
  return FWatch;
}

// ---- lookups (FLock held) ----

std::shared_ptr<TSimBus::TSlot> TSimBus::FindSlotLocked(const TSimDevice* ADevice) const {
  auto LIt = std::find_if(FSlots.begin(), FSlots.end(),
                          [ADevice](const auto& S) { return S->Device.get() == ADevice; });
  return LIt == FSlots.end() ? nullptr : *LIt;
}

std::shared_ptr<TSimBus::THandle> TSimBus::FindHandleLocked(hid::THidHandle AHandle) const {
  auto LIt = FHandles.find(AHandle);
  return LIt == FHandles.end() ? nullptr : LIt->second;
}

std::shared_ptr<TSimBus::THandle> TSimBus::LiveHandleLocked(hid::THidHandle AHandle) const {
  auto LHandle = FindHandleLocked(AHandle);
  return LHandle && !LHandle->Dead ? LHandle : nullptr;
}

}  // namespace sim
