// One HID device interface: identity, strings, capabilities, handles opened
// on demand, one synchronous write and one overlapped read at a time.
#include "JvHidDevice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// HIDD_ATTRIBUTES is 12 bytes on every Windows; the platform checks it.
constexpr uint32_t kAttributesSize = 12;
// A read cancelled on its own thread has its abort completion queued at
// once; the bound only guards against a platform that never delivers it.
constexpr uint32_t kCancelWaitMs = 1000;
constexpr uint32_t kCancelSliceMs = 10;

}  // namespace

// State of the one overlapped read a device object may have outstanding.
// Shared with the completion wrapper queued on the starting thread, so a
// completion that runs after the object is gone finds it marked stale.
struct TJvReadState {
  std::mutex Lock;
  bool Pending = false;
  uint64_t Sequence = 0;   // bumped to drop the completion of the read in flight
  uint64_t Delivered = 0;  // completions handed to their callback
  std::thread::id Thread;  // the thread that started the read
};

struct TJvHidDevice::TState {
  hid::IHidPlatform* Platform = nullptr;
  std::unique_ptr<TJvHidPnPInfo> PnPInfo;
  std::atomic<TJvHidDeviceController*> MyController{nullptr};  // null once detached
  TCheckOutFn CheckOut;  // the controller's check-out of this device

  std::atomic<bool> IsPluggedIn{true};
  std::atomic<bool> IsCheckedOut{false};
  // Handlers and check callbacks of two threads may show the object at once.
  std::atomic<int> Enumerated{0};

  // Guards the handles, the caches and the queue lengths. Never held while
  // a platform call may block; those run with Users raised instead.
  mutable std::mutex Lock;
  std::condition_variable Idle;  // Users dropped to 0
  int Users = 0;

  hid::THidHandle FileHandle = hid::kInvalidHandle;
  hid::THidHandle ReadHandle = hid::kInvalidHandle;
  hid::THidHandle WriteHandle = hid::kInvalidHandle;
  bool HasReadWriteAccess = false;

  hid::THidAttributes Attributes;
  std::string VendorName;
  std::string ProductName;
  hid::TPreparsedData Preparsed;
  uint32_t NumInputBuffers = 0;
  uint32_t NumOverlappedBuffers = 0;

  TJvHidDeviceError LastError;

  TJvHidPlugEvent OnUnplug;  // the controller's unplug handler

  TJvOverlapped OvlRead;
  TJvOverlapped OvlWrite;
  std::shared_ptr<TJvReadState> Read = std::make_shared<TJvReadState>();

  // The helpers below expect Lock to be held by the caller (ALock).
  bool Accessible() const;
  hid::TDiscoveredInterface Interface() const;  // as discovery found it
  hid::THidHandle OpenHandle(hid::TOpenAccess AAccess);  // records why it failed
  hid::THidHandle OpenSynchronous();  // read-write, else query only
  // Records the calling thread's last platform error (or, with ACode, the
  // given one) as the device's last error.
  void RecordError();
  void RecordError(uint32_t ACode, const std::string& AReason);
  void RecordNotUsable();  // unplugged, or not checked out
  bool OpenFileLocked();
  bool OpenReadLocked();
  bool OpenWriteLocked();
  // Closing waits until no other thread is inside a call on the handle.
  void CloseLocked(std::unique_lock<std::mutex>& ALock, hid::THidHandle& AHandle);
  void CloseFileLocked(std::unique_lock<std::mutex>& ALock);
  void CloseReadLocked(std::unique_lock<std::mutex>& ALock);
  void CloseAllLocked(std::unique_lock<std::mutex>& ALock);
  // A cached device string, read once through AReader.
  using TStringReader = bool (hid::IHidPlatform::*)(hid::THidHandle, std::string&);
  std::string CachedString(std::string& ACache, TStringReader AReader);
};

// ---- private helpers (ALock / Lock held) ----

bool TJvHidDevice::TState::Accessible() const {
  return IsPluggedIn && (IsCheckedOut || Enumerated > 0);
}

hid::TDiscoveredInterface TJvHidDevice::TState::Interface() const {
  return {PnPInfo->FDevicePath, PnPInfo->FDeviceID, PnPInfo->FPort};
}

void TJvHidDevice::TState::RecordError(uint32_t ACode, const std::string& AReason) {
  LastError.DevicePath = PnPInfo->FDevicePath;
  LastError.Code = ACode;
  LastError.Reason = AReason;
  LastError.Hint = Platform->OpenFailureHint(ACode);
  LastError.Gone = !IsPluggedIn || Platform->DeviceGoneError(ACode);
}

void TJvHidDevice::TState::RecordError() {
  const hid::TSystemError LError = hid::LastSystemError();
  RecordError(LError.Code, LError.Text);
}

void TJvHidDevice::TState::RecordNotUsable() {
  if (!IsPluggedIn)
    RecordError(hid::kErrorDeviceNotConnected, "The device is not connected.");
  else
    RecordError(0, "The device is neither checked out nor shown to a handler.");
}

hid::THidHandle TJvHidDevice::TState::OpenHandle(hid::TOpenAccess AAccess) {
  hid::SetLastSystemError(0, {});
  const hid::THidHandle LHandle = Platform->OpenInterface(Interface(), AAccess);
  if (LHandle == hid::kInvalidHandle) RecordError();
  return LHandle;
}

hid::THidHandle TJvHidDevice::TState::OpenSynchronous() {
  hid::THidHandle LHandle = OpenHandle(hid::TOpenAccess::ReadWrite);
  HasReadWriteAccess = LHandle != hid::kInvalidHandle;
  // The reason read-write access was refused stays the device's last error.
  if (!HasReadWriteAccess) LHandle = Platform->OpenInterface(Interface(), hid::TOpenAccess::QueryOnly);
  return LHandle;
}

bool TJvHidDevice::TState::OpenFileLocked() {
  if (!Accessible() && FileHandle == hid::kInvalidHandle) RecordNotUsable();
  if (Accessible() && FileHandle == hid::kInvalidHandle) {
    FileHandle = OpenSynchronous();
    if (FileHandle != hid::kInvalidHandle) {
      if (NumInputBuffers != 0) Platform->SetNumInputBuffers(FileHandle, NumInputBuffers);
      if (!Platform->GetNumInputBuffers(FileHandle, NumInputBuffers)) NumInputBuffers = 0;
    }
  }
  return FileHandle != hid::kInvalidHandle;
}

bool TJvHidDevice::TState::OpenReadLocked() {
  if (!Accessible()) return false;
  if (ReadHandle == hid::kInvalidHandle) {
    ReadHandle = OpenHandle(hid::TOpenAccess::OverlappedRead);
    if (ReadHandle != hid::kInvalidHandle) {
      if (NumOverlappedBuffers != 0) Platform->SetNumInputBuffers(ReadHandle, NumOverlappedBuffers);
      if (!Platform->GetNumInputBuffers(ReadHandle, NumOverlappedBuffers)) NumOverlappedBuffers = 0;
    }
  }
  return ReadHandle != hid::kInvalidHandle;
}

bool TJvHidDevice::TState::OpenWriteLocked() {
  if (!Accessible()) return false;
  if (WriteHandle == hid::kInvalidHandle)
    WriteHandle = OpenHandle(hid::TOpenAccess::OverlappedWrite);
  return WriteHandle != hid::kInvalidHandle;
}

void TJvHidDevice::TState::CloseLocked(std::unique_lock<std::mutex>& ALock, hid::THidHandle& AHandle) {
  if (AHandle == hid::kInvalidHandle) return;
  Idle.wait(ALock, [this] { return Users == 0; });
  if (AHandle == hid::kInvalidHandle) return;  // closed by another thread meanwhile
  Platform->Close(AHandle);
  AHandle = hid::kInvalidHandle;
}

void TJvHidDevice::TState::CloseFileLocked(std::unique_lock<std::mutex>& ALock) {
  CloseLocked(ALock, FileHandle);
  NumInputBuffers = 0;
}

void TJvHidDevice::TState::CloseReadLocked(std::unique_lock<std::mutex>& ALock) {
  // An outstanding read is aborted first; its completion still reaches the
  // thread that started it, so that thread learns the read failed. The
  // platform may wait there until the read let go of its buffer: not under
  // the lock, which the main thread's unplug needs.
  if (ReadHandle != hid::kInvalidHandle) {
    const hid::THidHandle LHandle = ReadHandle;
    ++Users;  // keeps the handle open meanwhile
    ALock.unlock();
    Platform->CancelRead(LHandle);
    ALock.lock();
    --Users;
    Idle.notify_all();
  }
  CloseLocked(ALock, ReadHandle);
  NumOverlappedBuffers = 0;
}

void TJvHidDevice::TState::CloseAllLocked(std::unique_lock<std::mutex>& ALock) {
  CloseFileLocked(ALock);
  CloseReadLocked(ALock);
  CloseLocked(ALock, WriteHandle);
}

std::string TJvHidDevice::TState::CachedString(std::string& ACache, TStringReader AReader) {
  std::unique_lock<std::mutex> LLock(Lock);
  if (ACache.empty() && OpenFileLocked()) {
    std::string LText;
    if ((Platform->*AReader)(FileHandle, LText)) ACache = LText;
    CloseFileLocked(LLock);
  }
  return ACache;
}

// ---- construction and destruction ----

TJvHidDevice::TJvHidDevice() {
  throw EControllerError("Direct creation of a TJvHidDevice object is not allowed");
}

TJvHidDevice::TJvHidDevice(std::unique_ptr<TJvHidPnPInfo> APnPInfo, TJvHidDeviceController* AController,
                           hid::IHidPlatform* APlatform, TJvHidPlugEvent AOnUnplug, TCheckOutFn ACheckOut)
    : FState(std::make_unique<TState>()) {
  FState->PnPInfo = std::move(APnPInfo);
  FState->MyController = AController;
  FState->Platform = APlatform;
  FState->OnUnplug = std::move(AOnUnplug);
  FState->CheckOut = std::move(ACheckOut);

  std::unique_lock<std::mutex> LLock(FState->Lock);
  FState->FileHandle = FState->OpenSynchronous();
  if (FState->FileHandle == hid::kInvalidHandle) throw EControllerError("Device cannot be opened");
  FState->Attributes.Size = kAttributesSize;
  hid::SetLastSystemError(0, {});  // a refused read-write open is not why identifying fails
  if (!FState->Platform->GetAttributes(FState->FileHandle, FState->Attributes)) {
    FState->CloseFileLocked(LLock);
    throw EControllerError("Device cannot be identified");
  }
  FState->CloseFileLocked(LLock);
}

TJvHidDevice::~TJvHidDevice() {
  if (!FState) return;
  {
    std::lock_guard<std::mutex> LGuard(FState->Read->Lock);
    ++FState->Read->Sequence;  // a completion still queued somewhere is dropped
    FState->Read->Pending = false;
  }
  std::unique_lock<std::mutex> LLock(FState->Lock);
  FState->OnUnplug = nullptr;
  FState->CloseAllLocked(LLock);
  FState->Preparsed.reset();
}

// ---- opening and closing ----

bool TJvHidDevice::IsAccessible() const { return FState->Accessible(); }

bool TJvHidDevice::OpenFile() {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  return FState->OpenFileLocked();
}

void TJvHidDevice::CloseFile() {
  std::unique_lock<std::mutex> LLock(FState->Lock);
  FState->CloseFileLocked(LLock);
}

bool TJvHidDevice::OpenFileEx(TJvHidOpenExMode Mode) {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  return Mode == omhRead ? FState->OpenReadLocked() : FState->OpenWriteLocked();
}

bool TJvHidDevice::OpenReadWrite() {
  std::unique_lock<std::mutex> LLock(FState->Lock);
  if (!FState->Accessible()) {
    FState->RecordNotUsable();
    return false;
  }
  if (FState->FileHandle != hid::kInvalidHandle && !FState->HasReadWriteAccess) FState->CloseFileLocked(LLock);
  return FState->OpenFileLocked() && FState->HasReadWriteAccess;
}

TJvHidDeviceError TJvHidDevice::LastError() const {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  return FState->LastError;
}

bool TJvHidDevice::IsGoneError(uint32_t ACode) const {
  return !FState->IsPluggedIn || FState->Platform->DeviceGoneError(ACode);
}

void TJvHidDevice::CloseFileEx(TJvHidOpenExMode Mode) {
  std::unique_lock<std::mutex> LLock(FState->Lock);
  if (Mode == omhRead)
    FState->CloseReadLocked(LLock);
  else
    FState->CloseLocked(LLock, FState->WriteHandle);
}

// ---- identity, strings, capabilities ----

const hid::THidAttributes& TJvHidDevice::Attributes() const { return FState->Attributes; }

hid::THidCaps TJvHidDevice::Caps() {
  hid::TPreparsedData LData;
  {
    std::unique_lock<std::mutex> LLock(FState->Lock);
    if (!FState->Preparsed && FState->OpenFileLocked()) {
      FState->Preparsed = FState->Platform->GetPreparsedData(FState->FileHandle);
      FState->CloseFileLocked(LLock);
    }
    LData = FState->Preparsed;
  }
  hid::THidCaps LCaps{};
  if (LData && !FState->Platform->GetCaps(LData, LCaps)) LCaps = hid::THidCaps{};
  return LCaps;
}

std::string TJvHidDevice::VendorName() {
  return FState->CachedString(FState->VendorName, &hid::IHidPlatform::GetManufacturerString);
}

std::string TJvHidDevice::ProductName() {
  return FState->CachedString(FState->ProductName, &hid::IHidPlatform::GetProductString);
}

// ---- report I/O ----

bool TJvHidDevice::WriteFile(const uint8_t* Report, uint32_t ToWrite, uint32_t& BytesWritten) {
  hid::THidHandle LHandle;
  {
    std::lock_guard<std::mutex> LGuard(FState->Lock);
    if (!FState->OpenFileLocked() || !FState->IsPluggedIn) {
      if (!FState->Accessible()) FState->RecordNotUsable();
      return false;
    }
    LHandle = FState->FileHandle;
    ++FState->Users;  // the handle stays open until this write is over
  }
  uint32_t LWritten = 0;
  hid::SetLastSystemError(0, {});
  bool LOk = FState->Platform->Write(LHandle, Report, ToWrite, LWritten);
  {
    std::lock_guard<std::mutex> LGuard(FState->Lock);
    --FState->Users;
    // A write the platform completed reached the device, even when the
    // device is reported gone a moment later (an unplug cancels what is
    // still inside the platform, and that fails there).
    if (!LOk && !FState->IsPluggedIn) {
      FState->RecordNotUsable();
    } else if (!LOk) {
      FState->RecordError();
    }
  }
  FState->Idle.notify_all();
  BytesWritten = LWritten;
  return LOk;
}

bool TJvHidDevice::ReadFileEx(uint8_t* Report, uint32_t ToRead, TJvReadCallback CallBack) {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  if (!FState->OpenReadLocked() || !FState->IsPluggedIn) {
    if (!FState->Accessible()) FState->RecordNotUsable();
    return false;
  }
  std::shared_ptr<TJvReadState> LState = FState->Read;
  uint64_t LSequence;
  {
    std::lock_guard<std::mutex> LReadGuard(LState->Lock);
    if (LState->Pending) {  // the completion record is still in use
      FState->RecordError(0, "A read is already outstanding on this device.");
      return false;
    }
    LState->Pending = true;
    LSequence = ++LState->Sequence;
    LState->Thread = std::this_thread::get_id();
  }
  FState->OvlRead = TJvOverlapped{};
  FState->OvlRead.hEvent = reinterpret_cast<uintptr_t>(this);
  // The routine gets its own copy of the record: it may run after this
  // object is gone (it is then dropped) or while the next read starts.
  auto LCompletion = [LState, LSequence, LOvl = FState->OvlRead, CallBack](uint32_t AError,
                                                                       uint32_t ACount) {
    {
      std::lock_guard<std::mutex> LReadGuard(LState->Lock);
      if (LState->Sequence != LSequence || !LState->Pending) return;
      LState->Pending = false;
      ++LState->Delivered;
    }
    if (CallBack) CallBack(AError, ACount, &LOvl);
  };
  hid::SetLastSystemError(0, {});
  if (FState->Platform->StartRead(FState->ReadHandle, Report, ToRead, LCompletion)) return true;
  FState->RecordError();
  std::lock_guard<std::mutex> LReadGuard(LState->Lock);
  LState->Pending = false;
  return false;
}

bool TJvHidDevice::ReadPending() const {
  std::lock_guard<std::mutex> LGuard(FState->Read->Lock);
  return FState->Read->Pending;
}

bool TJvHidDevice::WaitForRead(uint32_t ATimeoutMs) {
  std::shared_ptr<TJvReadState> LState = FState->Read;
  uint64_t LDelivered;
  {
    std::lock_guard<std::mutex> LGuard(LState->Lock);
    // Only the starting thread's alertable wait can deliver the completion.
    if (!LState->Pending || LState->Thread != std::this_thread::get_id()) return false;
    LDelivered = LState->Delivered;
  }
  const auto LDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    const auto LLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
        LDeadline - std::chrono::steady_clock::now());
    FState->Platform->AlertableWait(static_cast<uint32_t>(std::max<int64_t>(0, LLeft.count())));
    std::lock_guard<std::mutex> LGuard(LState->Lock);
    if (LState->Delivered != LDelivered) return true;
    if (!LState->Pending || std::chrono::steady_clock::now() >= LDeadline) return false;
  }
}

void TJvHidDevice::CancelRead() {
  std::shared_ptr<TJvReadState> LState = FState->Read;
  std::thread::id LStarter;
  {
    std::lock_guard<std::mutex> LGuard(LState->Lock);
    if (!LState->Pending) return;
    LStarter = LState->Thread;
  }
  hid::THidHandle LHandle;
  {
    std::lock_guard<std::mutex> LGuard(FState->Lock);
    LHandle = FState->ReadHandle;
    if (LHandle != hid::kInvalidHandle) ++FState->Users;  // kept open, without holding the lock
  }
  if (LHandle != hid::kInvalidHandle) {
    // A platform may wait here until the read has let go of its buffer;
    // an unplug on the main thread must not wait behind that.
    FState->Platform->CancelRead(LHandle);
    {
      std::lock_guard<std::mutex> LGuard(FState->Lock);
      --FState->Users;
    }
    FState->Idle.notify_all();
  }
  if (LStarter == std::this_thread::get_id()) {
    // Deliver the abort completion here and now.
    const auto LDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCancelWaitMs);
    while (ReadPending() && std::chrono::steady_clock::now() < LDeadline)
      FState->Platform->AlertableWait(kCancelSliceMs);
  }
  std::lock_guard<std::mutex> LGuard(LState->Lock);
  if (LState->Pending) {
    ++LState->Sequence;  // another thread's read, or never delivered: drop it
    LState->Pending = false;
  }
}

void TJvHidDevice::FlushQueue() {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  if (FState->ReadHandle != hid::kInvalidHandle) FState->Platform->FlushQueue(FState->ReadHandle);
}

// ---- check-out, queue lengths, unplug ----

bool TJvHidDevice::CheckOut() { return FState->MyController && FState->CheckOut(this); }

void TJvHidDevice::Detach() { FState->MyController = nullptr; }

bool TJvHidDevice::MarkCheckedOut(bool AOut) { return FState->IsCheckedOut.exchange(AOut) != AOut; }

void TJvHidDevice::SetOnUnplug(TJvHidPlugEvent AHandler) {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  FState->OnUnplug = std::move(AHandler);
}

TJvHidDevice::TShowGuard TJvHidDevice::Show() {
  ++FState->Enumerated;
  return TShowGuard(this, [](TJvHidDevice* ADevice) { --ADevice->FState->Enumerated; });
}

uint32_t TJvHidDevice::NumInputBuffers() const {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  return FState->NumInputBuffers;
}

void TJvHidDevice::SetNumInputBuffers(uint32_t Value) {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  if (Value == FState->NumInputBuffers || !FState->OpenFileLocked()) return;
  FState->Platform->SetNumInputBuffers(FState->FileHandle, Value);
  if (!FState->Platform->GetNumInputBuffers(FState->FileHandle, FState->NumInputBuffers)) FState->NumInputBuffers = 0;
}

uint32_t TJvHidDevice::NumOverlappedBuffers() const {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  return FState->NumOverlappedBuffers;
}

void TJvHidDevice::SetNumOverlappedBuffers(uint32_t Value) {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  if (Value == FState->NumOverlappedBuffers || !FState->OpenReadLocked()) return;
  FState->Platform->SetNumInputBuffers(FState->ReadHandle, Value);
  if (!FState->Platform->GetNumInputBuffers(FState->ReadHandle, FState->NumOverlappedBuffers))
    FState->NumOverlappedBuffers = 0;
}

void TJvHidDevice::DoUnplug() {
  TJvHidPlugEvent LHandler;
  {
    std::unique_lock<std::mutex> LLock(FState->Lock);
    FState->IsPluggedIn = false;  // no new call starts from here on
    // Calls already inside the platform are aborted, then waited for.
    for (hid::THidHandle LHandle : {FState->FileHandle, FState->ReadHandle, FState->WriteHandle})
      if (LHandle != hid::kInvalidHandle) FState->Platform->CancelIo(LHandle);
    FState->CloseAllLocked(LLock);
    LHandler = std::move(FState->OnUnplug);
    FState->OnUnplug = nullptr;
  }
  if (LHandler) LHandler(this);
}

// ---- read-only state ----

const TJvHidPnPInfo& TJvHidDevice::PnPInfo() const { return *FState->PnPInfo; }
bool TJvHidDevice::IsPluggedIn() const { return FState->IsPluggedIn; }
bool TJvHidDevice::IsCheckedOut() const { return FState->IsCheckedOut; }

bool TJvHidDevice::HasReadWriteAccess() const {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  return FState->HasReadWriteAccess;
}

hid::THidHandle TJvHidDevice::HidFileHandle() const {
  std::lock_guard<std::mutex> LGuard(FState->Lock);
  return FState->FileHandle;
}

TJvHidDeviceController* TJvHidDevice::MyController() const { return FState->MyController; }
