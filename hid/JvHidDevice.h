// One HID device interface as the controller lends it: identity, strings,
// capabilities, handles opened on demand, one synchronous write and one
// overlapped read at a time. Included through JvHidControllerClass.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "HidPlatform.h"

class TJvHidDevice;
class TJvHidDeviceController;

class EControllerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How the controller found a device interface.
struct TJvHidPnPInfo {
  uint32_t FDeviceID = 0;      // matching between passes uses this alone
  std::string FDevicePath;     // every open uses it
  // The USB port the device is plugged into; the same after the device
  // leaves and comes back there. Empty when the platform cannot tell
  // (hid::TDiscoveredInterface::Port).
  std::string FPort;
};

enum TJvHidOpenExMode { omhRead, omhWrite };

// Why the last open, write or read of a device failed: the device's path,
// the system's error number and text, and what the technician can do.
struct TJvHidDeviceError {
  std::string DevicePath;
  uint32_t Code = 0;
  std::string Reason;
  std::string Hint;  // empty when the platform has no advice
  bool Gone = false;  // the device has left the system
};

// Completion record of an overlapped read; hEvent carries the identity of
// the device object that started the read.
struct TJvOverlapped {
  uintptr_t hEvent = 0;
};

// Completion routine of ReadFileEx: status (0 = success), bytes, record.
using TJvReadCallback =
    std::function<void(uint32_t AErrorCode, uint32_t ACount, const TJvOverlapped* AOvl)>;

using TJvHidPlugEvent = std::function<void(TJvHidDevice* HidDev)>;
class TJvHidDevice {
 public:
  // Refuses: only the controller creates device objects.
  TJvHidDevice();
  ~TJvHidDevice();
  TJvHidDevice(const TJvHidDevice&) = delete;
  TJvHidDevice& operator=(const TJvHidDevice&) = delete;

  bool IsAccessible() const;
  bool OpenFile();
  void CloseFile();
  bool OpenFileEx(TJvHidOpenExMode Mode);
  void CloseFileEx(TJvHidOpenExMode Mode);
  // Opens the synchronous handle with read and write access (reopening a
  // query-only handle); false, with LastError filled, when the device
  // cannot be used for report I/O.
  bool OpenReadWrite();
  TJvHidDeviceError LastError() const;
  // Whether a read that completed with ACode failed because the device left.
  bool IsGoneError(uint32_t ACode) const;

  const hid::THidAttributes& Attributes() const;
  hid::THidCaps Caps();
  std::string VendorName();   // UTF-8
  std::string ProductName();  // UTF-8

  // One synchronous output report. Fails (never runs on a closed or reused
  // handle) when the device is unplugged meanwhile.
  bool WriteFile(const uint8_t* Report, uint32_t ToWrite, uint32_t& BytesWritten);

  // Starts one overlapped read into Report (Report must stay alive until the
  // read completed or was cancelled). False when a read is already
  // outstanding or the read handle cannot be opened.
  bool ReadFileEx(uint8_t* Report, uint32_t ToRead, TJvReadCallback CallBack);
  bool ReadPending() const;
  // Alertable wait on the calling thread (the one that started the read)
  // until the outstanding read's completion has run; true when it ran.
  bool WaitForRead(uint32_t ATimeoutMs);
  // Abandons the outstanding read: on return nothing writes into its buffer
  // and its completion has run (with an abort status) or been dropped.
  void CancelRead();
  // Drops every input report queued for the read handle.
  void FlushQueue();

  // Checks the device out of its controller, as the controller's own
  // check-out would; false when held, unplugged or no longer listed.
  bool CheckOut();

  uint32_t NumInputBuffers() const;
  void SetNumInputBuffers(uint32_t Value);
  uint32_t NumOverlappedBuffers() const;
  void SetNumOverlappedBuffers(uint32_t Value);

  // Called by the controller only, when the device is found gone.
  void DoUnplug();

  const TJvHidPnPInfo& PnPInfo() const;
  bool IsPluggedIn() const;
  bool IsCheckedOut() const;
  bool HasReadWriteAccess() const;
  hid::THidHandle HidFileHandle() const;
  TJvHidDeviceController* MyController() const;

 private:
  friend class TJvHidDeviceController;
  friend struct TJvPass;
  // What the controller hands a device it creates: its platform, its unplug
  // handler and its check-out of this one device.
  using TCheckOutFn = std::function<bool(TJvHidDevice*)>;
  TJvHidDevice(std::unique_ptr<TJvHidPnPInfo> APnPInfo, TJvHidDeviceController* AController,
               hid::IHidPlatform* APlatform, TJvHidPlugEvent AOnUnplug, TCheckOutFn ACheckOut);
  // The controller no longer lists the device: CheckOut refuses from now on.
  void Detach();
  // Marks the device checked out (true) or in; false when it already was.
  bool MarkCheckedOut(bool AOut);
  void SetOnUnplug(TJvHidPlugEvent AHandler);

  // Shows the device to a handler or a check: it counts as accessible until
  // the guard returned goes, also when the handler raises.
  using TShowGuard = std::unique_ptr<TJvHidDevice, void (*)(TJvHidDevice*)>;
  [[nodiscard]] TShowGuard Show();

  struct TState;
  std::unique_ptr<TState> FState;
};

