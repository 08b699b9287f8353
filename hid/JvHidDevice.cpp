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

struct TJvHidDevice::TImpl {
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

bool TJvHidDevice::TImpl::Accessible() const {
  return IsPluggedIn && (IsCheckedOut || Enumerated > 0);
}

hid::TDiscoveredInterface TJvHidDevice::TImpl::Interface() const {
  return {PnPInfo->FDevicePath, PnPInfo->FDeviceID, PnPInfo->FPort};
}

void TJvHidDevice::TImpl::RecordError(uint32_t ACode, const std::string& AReason) {
  LastError.DevicePath = PnPInfo->FDevicePath;
  LastError.Code = ACode;
  LastError.Reason = AReason;
  LastError.Hint = Platform->OpenFailureHint(ACode);
  LastError.Gone = !IsPluggedIn || Platform->DeviceGoneError(ACode);
}

void TJvHidDevice::TImpl::RecordError() {
  const hid::TSystemError LError = hid::LastSystemError();
  RecordError(LError.Code, LError.Text);
}

void TJvHidDevice::TImpl::RecordNotUsable() {
  if (!IsPluggedIn)
    RecordError(hid::kErrorDeviceNotConnected, "The device is not connected.");
  else
    RecordError(0, "The device is neither checked out nor shown to a handler.");
}

hid::THidHandle TJvHidDevice::TImpl::OpenHandle(hid::TOpenAccess AAccess) {
  hid::SetLastSystemError(0, {});
  const hid::THidHandle LHandle = Platform->OpenInterface(Interface(), AAccess);
  if (LHandle == hid::kInvalidHandle) RecordError();
  return LHandle;
}

hid::THidHandle TJvHidDevice::TImpl::OpenSynchronous() {
  hid::THidHandle LHandle = OpenHandle(hid::TOpenAccess::ReadWrite);
  HasReadWriteAccess = LHandle != hid::kInvalidHandle;
  // The reason read-write access was refused stays the device's last error.
  if (!HasReadWriteAccess) LHandle = Platform->OpenInterface(Interface(), hid::TOpenAccess::QueryOnly);
  return LHandle;
}

bool TJvHidDevice::TImpl::OpenFileLocked() {
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

bool TJvHidDevice::TImpl::OpenReadLocked() {
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

bool TJvHidDevice::TImpl::OpenWriteLocked() {
  if (!Accessible()) return false;
  if (WriteHandle == hid::kInvalidHandle)
    WriteHandle = OpenHandle(hid::TOpenAccess::OverlappedWrite);
  return WriteHandle != hid::kInvalidHandle;
}

void TJvHidDevice::TImpl::CloseLocked(std::unique_lock<std::mutex>& ALock, hid::THidHandle& AHandle) {
  if (AHandle == hid::kInvalidHandle) return;
  Idle.wait(ALock, [this] { return Users == 0; });
  if (AHandle == hid::kInvalidHandle) return;  // closed by another thread meanwhile
  Platform->Close(AHandle);
  AHandle = hid::kInvalidHandle;
}

void TJvHidDevice::TImpl::CloseFileLocked(std::unique_lock<std::mutex>& ALock) {
  CloseLocked(ALock, FileHandle);
  NumInputBuffers = 0;
}

void TJvHidDevice::TImpl::CloseReadLocked(std::unique_lock<std::mutex>& ALock) {
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

void TJvHidDevice::TImpl::CloseAllLocked(std::unique_lock<std::mutex>& ALock) {
  CloseFileLocked(ALock);
  CloseReadLocked(ALock);
  CloseLocked(ALock, WriteHandle);
}

std::string TJvHidDevice::TImpl::CachedString(std::string& ACache, TStringReader AReader) {
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
    : d(std::make_unique<TImpl>()) {
  d->PnPInfo = std::move(APnPInfo);
  d->MyController = AController;
  d->Platform = APlatform;
  d->OnUnplug = std::move(AOnUnplug);
  d->CheckOut = std::move(ACheckOut);

  std::unique_lock<std::mutex> LLock(d->Lock);
  d->FileHandle = d->OpenSynchronous();
  if (d->FileHandle == hid::kInvalidHandle) throw EControllerError("Device cannot be opened");
  d->Attributes.Size = kAttributesSize;
  hid::SetLastSystemError(0, {});  // a refused read-write open is not why identifying fails
  if (!d->Platform->GetAttributes(d->FileHandle, d->Attributes)) {
    d->CloseFileLocked(LLock);
    throw EControllerError("Device cannot be identified");
  }
  d->CloseFileLocked(LLock);
}

TJvHidDevice::~TJvHidDevice() {
  if (!d) return;
  {
    std::lock_guard<std::mutex> LGuard(d->Read->Lock);
    ++d->Read->Sequence;  // a completion still queued somewhere is dropped
    d->Read->Pending = false;
  }
  std::unique_lock<std::mutex> LLock(d->Lock);
  d->OnUnplug = nullptr;
  d->CloseAllLocked(LLock);
  d->Preparsed.reset();
}

// ---- opening and closing ----

bool TJvHidDevice::IsAccessible() const { return d->Accessible(); }

bool TJvHidDevice::OpenFile() {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  return d->OpenFileLocked();
}

void TJvHidDevice::CloseFile() {
  std::unique_lock<std::mutex> LLock(d->Lock);
  d->CloseFileLocked(LLock);
}

bool TJvHidDevice::OpenFileEx(TJvHidOpenExMode Mode) {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  return Mode == omhRead ? d->OpenReadLocked() : d->OpenWriteLocked();
}

bool TJvHidDevice::OpenReadWrite() {
  std::unique_lock<std::mutex> LLock(d->Lock);
  if (!d->Accessible()) {
    d->RecordNotUsable();
    return false;
  }
  if (d->FileHandle != hid::kInvalidHandle && !d->HasReadWriteAccess) d->CloseFileLocked(LLock);
  return d->OpenFileLocked() && d->HasReadWriteAccess;
}

TJvHidDeviceError TJvHidDevice::LastError() const {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  return d->LastError;
}

bool TJvHidDevice::IsGoneError(uint32_t ACode) const {
  return !d->IsPluggedIn || d->Platform->DeviceGoneError(ACode);
}

void TJvHidDevice::CloseFileEx(TJvHidOpenExMode Mode) {
  std::unique_lock<std::mutex> LLock(d->Lock);
  if (Mode == omhRead)
    d->CloseReadLocked(LLock);
  else
    d->CloseLocked(LLock, d->WriteHandle);
}

// ---- identity, strings, capabilities ----

const hid::THidAttributes& TJvHidDevice::Attributes() const { return d->Attributes; }

hid::THidCaps TJvHidDevice::Caps() {
  hid::TPreparsedData LData;
  {
    std::unique_lock<std::mutex> LLock(d->Lock);
    if (!d->Preparsed && d->OpenFileLocked()) {
      d->Preparsed = d->Platform->GetPreparsedData(d->FileHandle);
      d->CloseFileLocked(LLock);
    }
    LData = d->Preparsed;
  }
  hid::THidCaps LCaps{};
  if (LData && !d->Platform->GetCaps(LData, LCaps)) LCaps = hid::THidCaps{};
  return LCaps;
}

std::string TJvHidDevice::VendorName() {
  return d->CachedString(d->VendorName, &hid::IHidPlatform::GetManufacturerString);
}

std::string TJvHidDevice::ProductName() {
  return d->CachedString(d->ProductName, &hid::IHidPlatform::GetProductString);
}

// ---- report I/O ----

bool TJvHidDevice::WriteFile(const uint8_t* Report, uint32_t ToWrite, uint32_t& BytesWritten) {
  hid::THidHandle LHandle;
  {
    std::lock_guard<std::mutex> LGuard(d->Lock);
    if (!d->OpenFileLocked() || !d->IsPluggedIn) {
      if (!d->Accessible()) d->RecordNotUsable();
      return false;
    }
    LHandle = d->FileHandle;
    ++d->Users;  // the handle stays open until this write is over
  }
  uint32_t LWritten = 0;
  hid::SetLastSystemError(0, {});
  bool LOk = d->Platform->Write(LHandle, Report, ToWrite, LWritten);
  {
    std::lock_guard<std::mutex> LGuard(d->Lock);
    --d->Users;
    // A write the platform completed reached the device, even when the
    // device is reported gone a moment later (an unplug cancels what is
    // still inside the platform, and that fails there).
    if (!LOk && !d->IsPluggedIn) {
      d->RecordNotUsable();
    } else if (!LOk) {
      d->RecordError();
    }
  }
  d->Idle.notify_all();
  BytesWritten = LWritten;
  return LOk;
}

bool TJvHidDevice::ReadFileEx(uint8_t* Report, uint32_t ToRead, TJvReadCallback CallBack) {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  if (!d->OpenReadLocked() || !d->IsPluggedIn) {
    if (!d->Accessible()) d->RecordNotUsable();
    return false;
  }
  std::shared_ptr<TJvReadState> LState = d->Read;
  uint64_t LSequence;
  {
    std::lock_guard<std::mutex> LReadGuard(LState->Lock);
    if (LState->Pending) {  // the completion record is still in use
      d->RecordError(0, "A read is already outstanding on this device.");
      return false;
    }
    LState->Pending = true;
    LSequence = ++LState->Sequence;
    LState->Thread = std::this_thread::get_id();
  }
  d->OvlRead = TJvOverlapped{};
  d->OvlRead.hEvent = reinterpret_cast<uintptr_t>(this);
  // The routine gets its own copy of the record: it may run after this
  // object is gone (it is then dropped) or while the next read starts.
  auto LCompletion = [LState, LSequence, LOvl = d->OvlRead, CallBack](uint32_t AError,
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
  if (d->Platform->StartRead(d->ReadHandle, Report, ToRead, LCompletion)) return true;
  d->RecordError();
  std::lock_guard<std::mutex> LReadGuard(LState->Lock);
  LState->Pending = false;
  return false;
}

bool TJvHidDevice::ReadPending() const {
  std::lock_guard<std::mutex> LGuard(d->Read->Lock);
  return d->Read->Pending;
}

bool TJvHidDevice::WaitForRead(uint32_t ATimeoutMs) {
  std::shared_ptr<TJvReadState> LState = d->Read;
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
    d->Platform->AlertableWait(static_cast<uint32_t>(std::max<int64_t>(0, LLeft.count())));
    std::lock_guard<std::mutex> LGuard(LState->Lock);
    if (LState->Delivered != LDelivered) return true;
    if (!LState->Pending || std::chrono::steady_clock::now() >= LDeadline) return false;
  }
}

void TJvHidDevice::CancelRead() {
  std::shared_ptr<TJvReadState> LState = d->Read;
  std::thread::id LStarter;
  {
    std::lock_guard<std::mutex> LGuard(LState->Lock);
    if (!LState->Pending) return;
    LStarter = LState->Thread;
  }
  hid::THidHandle LHandle;
  {
    std::lock_guard<std::mutex> LGuard(d->Lock);
    LHandle = d->ReadHandle;
    if (LHandle != hid::kInvalidHandle) ++d->Users;  // kept open, without holding the lock
  }
  if (LHandle != hid::kInvalidHandle) {
    // A platform may wait here until the read has let go of its buffer;
    // an unplug on the main thread must not wait behind that.
    d->Platform->CancelRead(LHandle);
    {
      std::lock_guard<std::mutex> LGuard(d->Lock);
      --d->Users;
    }
    d->Idle.notify_all();
  }
  if (LStarter == std::this_thread::get_id()) {
    // Deliver the abort completion here and now.
    const auto LDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCancelWaitMs);
    while (ReadPending() && std::chrono::steady_clock::now() < LDeadline)
      d->Platform->AlertableWait(kCancelSliceMs);
  }
  std::lock_guard<std::mutex> LGuard(LState->Lock);
  if (LState->Pending) {
    ++LState->Sequence;  // another thread's read, or never delivered: drop it
    LState->Pending = false;
  }
}

void TJvHidDevice::FlushQueue() {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  if (d->ReadHandle != hid::kInvalidHandle) d->Platform->FlushQueue(d->ReadHandle);
}

// ---- check-out, queue lengths, unplug ----

bool TJvHidDevice::CheckOut() { return d->MyController && d->CheckOut(this); }

void TJvHidDevice::Detach() { d->MyController = nullptr; }

bool TJvHidDevice::MarkCheckedOut(bool AOut) { return d->IsCheckedOut.exchange(AOut) != AOut; }

void TJvHidDevice::SetOnUnplug(TJvHidPlugEvent AHandler) {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  d->OnUnplug = std::move(AHandler);
}

TJvHidDevice::TShowGuard TJvHidDevice::Show() {
  ++d->Enumerated;
  return TShowGuard(this, [](TJvHidDevice* ADevice) { --ADevice->d->Enumerated; });
}

uint32_t TJvHidDevice::NumInputBuffers() const {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  return d->NumInputBuffers;
}

void TJvHidDevice::SetNumInputBuffers(uint32_t Value) {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  if (Value == d->NumInputBuffers || !d->OpenFileLocked()) return;
  d->Platform->SetNumInputBuffers(d->FileHandle, Value);
  if (!d->Platform->GetNumInputBuffers(d->FileHandle, d->NumInputBuffers)) d->NumInputBuffers = 0;
}

uint32_t TJvHidDevice::NumOverlappedBuffers() const {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  return d->NumOverlappedBuffers;
}

void TJvHidDevice::SetNumOverlappedBuffers(uint32_t Value) {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  if (Value == d->NumOverlappedBuffers || !d->OpenReadLocked()) return;
  d->Platform->SetNumInputBuffers(d->ReadHandle, Value);
  if (!d->Platform->GetNumInputBuffers(d->ReadHandle, d->NumOverlappedBuffers))
    d->NumOverlappedBuffers = 0;
}

void TJvHidDevice::DoUnplug() {
  TJvHidPlugEvent LHandler;
  {
    std::unique_lock<std::mutex> LLock(d->Lock);
    d->IsPluggedIn = false;  // no new call starts from here on
    // Calls already inside the platform are aborted, then waited for.
    for (hid::THidHandle LHandle : {d->FileHandle, d->ReadHandle, d->WriteHandle})
      if (LHandle != hid::kInvalidHandle) d->Platform->CancelIo(LHandle);
    d->CloseAllLocked(LLock);
    LHandler = std::move(d->OnUnplug);
    d->OnUnplug = nullptr;
  }
  if (LHandler) LHandler(this);
}

// ---- read-only state ----

const TJvHidPnPInfo& TJvHidDevice::PnPInfo() const { return *d->PnPInfo; }
bool TJvHidDevice::IsPluggedIn() const { return d->IsPluggedIn; }
bool TJvHidDevice::IsCheckedOut() const { return d->IsCheckedOut; }

bool TJvHidDevice::HasReadWriteAccess() const {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  return d->HasReadWriteAccess;
}

hid::THidHandle TJvHidDevice::HidFileHandle() const {
  std::lock_guard<std::mutex> LGuard(d->Lock);
  return d->FileHandle;
}

TJvHidDeviceController* TJvHidDevice::MyController() const { return d->MyController; }
