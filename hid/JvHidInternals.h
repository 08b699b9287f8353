// Private state of the device object and the controller, shared by their
// two source files. Nothing outside hid/ includes this.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "JvHidControllerClass.h"

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
  std::atomic<TJvHidDeviceController*> MyController{nullptr};

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

  TJvHidPlugEvent OnUnplug;
  bool UnplugFromController = false;  // OnUnplug is the controller's handler

  TJvOverlapped OvlRead;
  TJvOverlapped OvlWrite;
  std::shared_ptr<TJvReadState> Read = std::make_shared<TJvReadState>();

  // The helpers below expect Lock to be held by the caller (ALock).
  bool Accessible() const;
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

struct TJvHidDeviceController::TImpl {
  hid::IHidPlatform* Platform = nullptr;
  void* Owner = nullptr;
  bool Bound = false;
  std::string Guid;

  // Guards the list, the counters and every check-out state change. Never
  // held while a handler, a check callback or a device operation runs.
  mutable std::mutex Lock;
  std::vector<std::shared_ptr<TJvHidDevice>> List;
  int NumCheckedIn = 0;
  int NumCheckedOut = 0;
  int NumUnplugged = 0;

  // Paths of the devices the last pass left out (used by passes only).
  std::set<std::string> Skipped;

  std::atomic<bool> InDeviceChange{false};
  std::atomic<bool> Destroying{false};
  int32_t LParam = 0;

  TNotifyEvent OnDeviceChange;
  TJvHidPlugEvent OnDeviceUnplug;
};

namespace hid_detail {

// Shows a device to a handler: raises its "being shown" count for the
// length of the call, also when the handler raises.
class TShowGuard {
 public:
  explicit TShowGuard(std::atomic<int>& AEnumerated) : FEnumerated(AEnumerated) { ++FEnumerated; }
  ~TShowGuard() { --FEnumerated; }
  TShowGuard(const TShowGuard&) = delete;
  TShowGuard& operator=(const TShowGuard&) = delete;

 private:
  std::atomic<int>& FEnumerated;
};

}  // namespace hid_detail
