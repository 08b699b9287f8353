// HID device object and the controller that keeps the list of present HID
// interfaces, reports arrivals and removals and lends one device at a time.
//
// Public interface used by the loader client (bsl/), the main window (app/)
// and the simulated bus tests. Private state may grow; the public calls below
// are what the rest of the program relies on.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "HidPlatform.h"

class TJvHidDevice;
class TJvHidDeviceController;
struct TJvPass;

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
using TJvHidEnumerateEvent = std::function<bool(TJvHidDevice* HidDev, int Idx)>;
using TJvHidDeviceCreateError =
    std::function<void(TJvHidDeviceController* Controller, const TJvHidPnPInfo& PnPInfo,
                       bool& Handled, bool& RetryCreate)>;
// A device interface that a pass left out because it could not be created
// (opened and identified): its discovery record and the reason, with the
// system's words where it gave any.
using TJvHidDeviceSkipped =
    std::function<void(TJvHidDeviceController* Controller, const TJvHidPnPInfo& PnPInfo, const std::string& Reason)>;
using TJvHidCheckCallback = bool (*)(TJvHidDevice* HidDev);
using TNotifyEvent = std::function<void(TJvHidDeviceController* Sender)>;

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
  TJvHidDevice(std::unique_ptr<TJvHidPnPInfo> APnPInfo, TJvHidDeviceController* AController);
  struct TImpl;
  std::unique_ptr<TImpl> d;
};

class TJvHidDeviceController {
 public:
  // AOwner: the window that owns the controller (informational).
  // APlatform: nullptr = hid::OsPlatform().
  explicit TJvHidDeviceController(void* AOwner = nullptr, hid::IHidPlatform* APlatform = nullptr);
  ~TJvHidDeviceController();
  TJvHidDeviceController(const TJvHidDeviceController&) = delete;
  TJvHidDeviceController& operator=(const TJvHidDeviceController&) = delete;

  int Enumerate();
  bool CheckOutByCallback(TJvHidDevice*& HidDev, TJvHidCheckCallback Check);
  // The same with a check that may carry state (a port, a list to fill):
  // called for each device not checked out, in list order, until it
  // returns true.
  bool CheckOutWhere(TJvHidDevice*& HidDev, const std::function<bool(TJvHidDevice*)>& Check);
  void CheckIn(TJvHidDevice*& HidDev);
  bool CheckOut(TJvHidDevice*& HidDev);
  bool CheckOutByID(TJvHidDevice*& HidDev, int Vid, int Pid);
  bool CheckOutByIndex(TJvHidDevice*& HidDev, int Idx);

  TJvHidPlugEvent OnArrival;
  TJvHidPlugEvent OnRemoval;
  TJvHidEnumerateEvent OnEnumerate;
  TJvHidDeviceCreateError OnDeviceCreateError;
  // A device that could not be created and that no create-error handler
  // took care of is left out of the pass, and the pass goes on: reported
  // here once, on the pass's thread, and again only after a pass that did
  // not meet it.
  TJvHidDeviceSkipped OnDeviceSkipped;
  const TNotifyEvent& OnDeviceChange() const;
  void SetOnDeviceChange(TNotifyEvent AHandler);  // runs a pass at once
  const TJvHidPlugEvent& OnDeviceUnplug() const;
  void SetOnDeviceUnplug(TJvHidPlugEvent AHandler);

  int NumCheckedInDevices() const;
  int NumCheckedOutDevices() const;
  int NumUnpluggedDevices() const;

  // {4D1E55B2-F16F-11CF-88CB-001111000030} when the HID services are missing.
  std::string HidGuid() const;

 private:
  friend class TJvHidDevice;
  friend struct TJvPass;
  void DeviceChangeNotified(int32_t ALParam);
  void CloseAllHandles(TJvHidDevice* ADevice);
  bool HandOutLocked(TJvHidDevice* AEntry, TJvHidDevice*& HidDev);
  struct TImpl;
  std::unique_ptr<TImpl> d;
};
