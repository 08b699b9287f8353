#include "LinuxHidPlatform.h"

#include <fcntl.h>
#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ReportDescriptor.h"
#include "UdevDevice.h"

namespace hid {
namespace {

// The rule that gives the logged-in user the board's node, and the
// command that installs it (README: "Using the board without root").
constexpr const char* kUdevRuleName = "70-kestrova-bsl.rules";
constexpr const char* kUdevInstallCommand = "sudo sh packaging/udev/install-udev-rule.sh";

// lParam of the first notification after watching starts.
constexpr int32_t kFirstPassLParam = -1;
// Windows accepts 2 to 512 input buffers; the same range is checked here,
// though hidraw keeps its own fixed queue.
constexpr uint32_t kMinInputBuffers = 2;
constexpr uint32_t kMaxInputBuffers = 512;

int OpenFlags(TOpenAccess AAccess) {
  switch (AAccess) {
    // Writes wait in poll, where an unplug can wake them.
    case TOpenAccess::ReadWrite: return O_RDWR | O_NONBLOCK | O_CLOEXEC;
    case TOpenAccess::OverlappedRead: return O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    case TOpenAccess::OverlappedWrite: return O_WRONLY | O_NONBLOCK | O_CLOEXEC;
    case TOpenAccess::QueryOnly: break;
  }
  return -1;
}

struct TLayoutData {
  TReportLayout Layout;
};

}  // namespace

TLinuxHidPlatform::TLinuxHidPlatform() = default;

TLinuxHidPlatform::~TLinuxHidPlatform() {
  UnwatchChanges();
  FPump.reset();
  FFiles.clear();
  if (FUdev) udev_unref(FUdev);
}

IHidPlatform& OsPlatform() {
  static TLinuxHidPlatform LPlatform;
  return LPlatform;
}

// ---- binding and discovery ----

bool TLinuxHidPlatform::Bind() {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (!FUdev) FUdev = udev_new();
  if (!FUdev) return false;
  ++FBindCount;
  return true;
}

void TLinuxHidPlatform::Unbind() {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (FBindCount > 0) --FBindCount;
}

bool TLinuxHidPlatform::Enumerate(std::vector<TDiscoveredInterface>& AOut) {
  std::lock_guard<std::mutex> LGuard(FLock);
  AOut.clear();
  if (!FUdev) return false;
  FSysPaths.clear();
  for (const THidrawInfo& LInfo : ListHidraw(FUdev)) {
    FSysPaths[LInfo.DevNode] = LInfo.SysPath;
    AOut.push_back({LInfo.DevNode, IdentityLocked(LInfo.IdentityKey), LInfo.Port});
  }
  return true;
}

uint32_t TLinuxHidPlatform::IdentityLocked(const std::string& AKey) {
  auto [LIt, LNew] = FIdentities.try_emplace(AKey, FNextIdentity);
  if (LNew) FIdentityKeys[FNextIdentity++] = AKey;
  return LIt->second;
}

std::string TLinuxHidPlatform::SysPathForLocked(const std::string& ADevNode) {
  auto LIt = FSysPaths.find(ADevNode);
  if (LIt != FSysPaths.end()) return LIt->second;
  // Not seen by discovery yet: ask udev by the node's device number.
  struct stat LStat;
  if (!FUdev || ::stat(ADevNode.c_str(), &LStat) != 0) return {};
  udev_device* LDevice = udev_device_new_from_devnum(FUdev, 'c', LStat.st_rdev);
  if (!LDevice) return {};
  std::string LSysPath = udev_device_get_syspath(LDevice);
  udev_device_unref(LDevice);
  return LSysPath;
}

// ---- handles ----

THidHandle TLinuxHidPlatform::Open(const std::string& APath, TOpenAccess AAccess) {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (!FUdev) return kInvalidHandle;
  const std::string LSysPath = SysPathForLocked(APath);
  THidrawInfo LInfo;
  if (LSysPath.empty() || !ReadHidrawInfo(FUdev, LSysPath, LInfo)) {
    SetErrnoError(ENODEV, APath);
    return kInvalidHandle;
  }
  int LFd = -1;
  if (AAccess != TOpenAccess::QueryOnly) {
    // A node the user may not open is still listed: the controller then
    // asks for a query-only handle, which needs no access to the node.
    LFd = ::open(APath.c_str(), OpenFlags(AAccess));
    if (LFd < 0) {
      SetErrnoError(errno, "");
      return kInvalidHandle;
    }
  }
  TReportLayout LLayout;
  const bool LParsed = ParseReportDescriptor(ReadReportDescriptor(FUdev, LSysPath), LLayout);
  const bool LPrepend = LParsed && !LLayout.UsesReportIds;
  const TReportLengths LLengths{LParsed, LLayout.InputReportByteLength, LLayout.OutputReportByteLength};
  const THidHandle LId = FNextHandle++;
  FFiles[LId] = std::make_shared<THidrawFile>(LFd, AAccess, LSysPath, LPrepend, LLengths);
  return LId;
}

std::string TLinuxHidPlatform::NodeIdentityLocked(const std::string& APath) {
  // The node's name leads to its entry under the hidraw class, whose HID
  // parent is the device that has the node now.
  const std::string LName = APath.substr(APath.find_last_of('/') + 1);
  udev_device* LDevice = udev_device_new_from_subsystem_sysname(FUdev, "hidraw", LName.c_str());
  if (!LDevice) return {};
  THidrawInfo LInfo;
  const bool LFound = ReadHidrawInfo(FUdev, udev_device_get_syspath(LDevice), LInfo);
  udev_device_unref(LDevice);
  return LFound && LInfo.DevNode == APath ? LInfo.IdentityKey : std::string();
}

THidHandle TLinuxHidPlatform::OpenInterface(const TDiscoveredInterface& AInterface, TOpenAccess AAccess) {
  const THidHandle LHandle = Open(AInterface.Path, AAccess);
  if (LHandle == kInvalidHandle) return LHandle;
  // hidrawN names are reused: the node must still be the device discovery
  // saw (the HID device's name carries the kernel's plug-in sequence).
  bool LSame = true;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    auto LKey = FIdentityKeys.find(AInterface.DeviceID);
    if (LKey != FIdentityKeys.end()) LSame = NodeIdentityLocked(AInterface.Path) == LKey->second;
  }
  if (LSame) return LHandle;
  Close(LHandle);
  SetLastSystemError(ENODEV, AInterface.Path + " now belongs to another device");
  return kInvalidHandle;
}

void TLinuxHidPlatform::Close(THidHandle AHandle) {
  std::shared_ptr<THidrawFile> LFile;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    auto LIt = FFiles.find(AHandle);
    if (LIt == FFiles.end()) return;
    LFile = std::move(LIt->second);
    FFiles.erase(LIt);
  }
  {
    std::lock_guard<std::mutex> LFileGuard(LFile->Lock);
    LFile->CompleteLocked(kErrorOperationAborted, 0);
  }
  WakePump();  // the pump lets go; the descriptor closes with the last holder
}

std::shared_ptr<THidrawFile> TLinuxHidPlatform::FindLocked(THidHandle AHandle) const {
  auto LIt = FFiles.find(AHandle);
  return LIt == FFiles.end() ? nullptr : LIt->second;
}

bool TLinuxHidPlatform::InfoLocked(THidHandle AHandle, THidrawInfo& AOut) {
  auto LFile = FindLocked(AHandle);
  return LFile && ReadHidrawInfo(FUdev, LFile->SysPath, AOut);
}

// ---- identity and capabilities ----

bool TLinuxHidPlatform::GetAttributes(THidHandle AHandle, THidAttributes& AOut) {
  std::lock_guard<std::mutex> LGuard(FLock);
  THidrawInfo LInfo;
  if (!InfoLocked(AHandle, LInfo) || !LInfo.HasIds) return false;
  AOut.VendorID = LInfo.VendorID;
  AOut.ProductID = LInfo.ProductID;
  AOut.VersionNumber = LInfo.Version;
  return true;
}

bool TLinuxHidPlatform::GetManufacturerString(THidHandle AHandle, std::string& AOut) {
  std::lock_guard<std::mutex> LGuard(FLock);
  THidrawInfo LInfo;
  if (!InfoLocked(AHandle, LInfo) || LInfo.Manufacturer.empty()) return false;
  AOut = LInfo.Manufacturer;
  return true;
}

bool TLinuxHidPlatform::GetProductString(THidHandle AHandle, std::string& AOut) {
  std::lock_guard<std::mutex> LGuard(FLock);
  THidrawInfo LInfo;
  if (!InfoLocked(AHandle, LInfo) || LInfo.Product.empty()) return false;
  AOut = LInfo.Product;
  return true;
}

TPreparsedData TLinuxHidPlatform::GetPreparsedData(THidHandle AHandle) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LFile = FindLocked(AHandle);
  if (!LFile) return {};
  auto LData = std::make_shared<TLayoutData>();
  if (!ParseReportDescriptor(ReadReportDescriptor(FUdev, LFile->SysPath), LData->Layout)) return {};
  return LData;
}

bool TLinuxHidPlatform::GetCaps(const TPreparsedData& AData, THidCaps& AOut) {
  if (!AData) return false;
  const TReportLayout& LLayout = static_cast<const TLayoutData*>(AData.get())->Layout;
  AOut = THidCaps{};
  AOut.UsagePage = LLayout.UsagePage;
  AOut.Usage = LLayout.Usage;
  AOut.InputReportByteLength = LLayout.InputReportByteLength;
  AOut.OutputReportByteLength = LLayout.OutputReportByteLength;
  AOut.FeatureReportByteLength = LLayout.FeatureReportByteLength;
  return true;
}

bool TLinuxHidPlatform::SetNumInputBuffers(THidHandle AHandle, uint32_t ACount) {
  std::lock_guard<std::mutex> LGuard(FLock);
  // hidraw's queue length is fixed; the request is refused, and the
  // length read back afterwards is the kernel's.
  (void)ACount;
  (void)FindLocked(AHandle);
  return false;
}

bool TLinuxHidPlatform::GetNumInputBuffers(THidHandle AHandle, uint32_t& ACount) {
  std::lock_guard<std::mutex> LGuard(FLock);
  auto LFile = FindLocked(AHandle);
  if (!LFile || LFile->Fd < 0) return false;
  ACount = LFile->QueueLength;
  return ACount >= kMinInputBuffers && ACount <= kMaxInputBuffers;
}

bool TLinuxHidPlatform::FlushQueue(THidHandle AHandle) {
  std::shared_ptr<THidrawFile> LFile;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LFile = FindLocked(AHandle);
  }
  if (!LFile || LFile->Fd < 0) return false;
  std::lock_guard<std::mutex> LFileGuard(LFile->Lock);
  if (!LFile->ReadPending) LFile->Drain();  // never steal the report of a pending read
  return true;
}

// ---- report I/O ----

bool TLinuxHidPlatform::Write(THidHandle AHandle, const uint8_t* AData, uint32_t ALength,
                              uint32_t& AWritten) {
  std::shared_ptr<THidrawFile> LFile;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LFile = FindLocked(AHandle);
  }
  if (!LFile || LFile->Fd < 0 || LFile->Access == TOpenAccess::OverlappedRead) {
    SetErrnoError(EBADF, "write");
    return false;
  }
  // hidraw sends whatever it gets; Windows refuses more than one report.
  if (LFile->Lengths.Known && ALength > LFile->Lengths.Output) {
    SetLastSystemError(EMSGSIZE, "a write of " + std::to_string(ALength) +
                                     " bytes is longer than the output report of " +
                                     std::to_string(LFile->Lengths.Output) + " bytes");
    return false;
  }
  // hidraw takes the report ID (0 without IDs) in the first byte, as Windows does.
  return LFile->WriteReport(AData, ALength, AWritten);
}

bool TLinuxHidPlatform::StartRead(THidHandle AHandle, uint8_t* ABuffer, uint32_t ALength,
                                  TReadCompletion ACompletion) {
  std::shared_ptr<THidrawFile> LFile;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LFile = FindLocked(AHandle);
  }
  if (!LFile || LFile->Access != TOpenAccess::OverlappedRead || !ABuffer || ALength == 0) {
    SetErrnoError(EBADF, "read");
    return false;
  }
  // hidraw would cut the report to the buffer without a word; Windows
  // refuses the read.
  if (LFile->Lengths.Known && ALength < LFile->Lengths.Input) {
    SetLastSystemError(EMSGSIZE, "a read buffer of " + std::to_string(ALength) +
                                     " bytes is shorter than the input report of " +
                                     std::to_string(LFile->Lengths.Input) + " bytes");
    return false;
  }
  {
    std::lock_guard<std::mutex> LFileGuard(LFile->Lock);
    if (LFile->ReadPending) {
      SetErrnoError(EBUSY, "read");
      return false;
    }
    LFile->ReadPending = true;
    LFile->ReadBuffer = ABuffer;
    LFile->ReadLength = ALength;
    LFile->ReadCompletion = std::move(ACompletion);
    LFile->ReadQueue = CurrentThreadApcQueue();
    // A report already queued is in the buffer when this call returns.
    if (LFile->TryCompleteLocked()) return true;
  }
  Pump().Watch(LFile);
  return true;
}

void TLinuxHidPlatform::CancelRead(THidHandle AHandle) {
  std::shared_ptr<THidrawFile> LFile;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LFile = FindLocked(AHandle);
  }
  if (!LFile) return;
  {
    // The pump reads only under this lock: once it is released here,
    // nothing writes into the cancelled read's buffer.
    std::lock_guard<std::mutex> LFileGuard(LFile->Lock);
    LFile->CompleteLocked(kErrorOperationAborted, 0);
  }
  WakePump();
}

void TLinuxHidPlatform::CancelIo(THidHandle AHandle) {
  std::shared_ptr<THidrawFile> LFile;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LFile = FindLocked(AHandle);
  }
  if (!LFile) return;
  LFile->Cancel();
  WakePump();
}

std::string TLinuxHidPlatform::OpenFailureHint(uint32_t ACode) {
  switch (ACode) {
    case EACCES:
    case EPERM:
      return std::string("Install the udev rule ") + kUdevRuleName + " that lets the logged-in user use the board: " +
             kUdevInstallCommand + " (in the configurator's folder), then connect the board again.";
    case EBUSY: return "Close the other program that uses the board, then try again.";
    default: return "Connect the board again, press its button and try again.";
  }
}

// hidraw answers ENODEV once the device is gone; the USB layer underneath
// ESHUTDOWN while it is being taken down.
bool TLinuxHidPlatform::DeviceGoneError(uint32_t ACode) {
  return ACode == ENODEV || ACode == ESHUTDOWN || ACode == ENOENT || ACode == kErrorDeviceNotConnected;
}

TReadPump& TLinuxHidPlatform::Pump() {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (!FPump) FPump = std::make_unique<TReadPump>();
  return *FPump;
}

void TLinuxHidPlatform::WakePump() {
  TReadPump* LPump;
  {
    // Created by the first read on a worker; read here on any thread.
    std::lock_guard<std::mutex> LGuard(FLock);
    LPump = FPump.get();
  }
  if (LPump) LPump->Wake();  // lives until the platform goes
}

bool TLinuxHidPlatform::AlertableWait(uint32_t ATimeoutMs) { return AlertableWaitOnCurrentThread(ATimeoutMs); }

// ---- notifications ----

void TLinuxHidPlatform::WatchChanges(TChangeNotify ANotify) {
  UnwatchChanges();
  IHidEventLoop* LLoop = EventLoop();
  auto LWatch = std::make_shared<TChangeWatch>(std::move(ANotify));
  int LMonitorFd = -1;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    FWatch = LWatch;
    if (!FUdev || !LLoop) return;
    FMonitor = udev_monitor_new_from_netlink(FUdev, "udev");
    if (FMonitor) {
      udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "hidraw", nullptr);
      udev_monitor_enable_receiving(FMonitor);
      LMonitorFd = udev_monitor_get_fd(FMonitor);
    }
  }
  if (LMonitorFd >= 0) {
    // Not under the lock: a loop may run the callback from inside.
    void* LMonitorWatch = LLoop->WatchReadable(LMonitorFd, [this, LWatch] {
      DrainMonitor();
      LWatch->Notify(0);
    });
    std::lock_guard<std::mutex> LGuard(FLock);
    FMonitorWatch = LMonitorWatch;
  }
  LWatch->Post(kFirstPassLParam);
}

void TLinuxHidPlatform::RequestChange() {
  std::shared_ptr<TChangeWatch> LWatch;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LWatch = FWatch;
  }
  if (LWatch) LWatch->Request();
}

void TLinuxHidPlatform::DrainMonitor() {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (!FMonitor) return;
  while (udev_device* LDevice = udev_monitor_receive_device(FMonitor)) udev_device_unref(LDevice);
}

void TLinuxHidPlatform::UnwatchChanges() {
  std::shared_ptr<TChangeWatch> LWatch;
  void* LMonitorWatch = nullptr;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LWatch.swap(FWatch);
    std::swap(LMonitorWatch, FMonitorWatch);
  }
  if (LMonitorWatch && EventLoop()) EventLoop()->Unwatch(LMonitorWatch);
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    if (FMonitor) udev_monitor_unref(FMonitor);
    FMonitor = nullptr;
  }
  if (LWatch) LWatch->End();
}

}  // namespace hid
