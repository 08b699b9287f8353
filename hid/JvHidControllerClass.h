// The controller that keeps the list of present HID interfaces, reports
// arrivals and removals and lends one device (JvHidDevice.h) at a time.
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
#include <string>
#include <vector>

#include "HidPlatform.h"
#include "JvHidDevice.h"

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

  // Any thread: a pass soon, on the controller's thread (see
  // IHidPlatform::RequestChange).
  void RequestPass();

  int NumCheckedInDevices() const;
  int NumCheckedOutDevices() const;
  int NumUnpluggedDevices() const;

  // {4D1E55B2-F16F-11CF-88CB-001111000030} when the HID services are missing.
  std::string HidGuid() const;

 private:
  friend struct TJvPass;
  void DeviceChangeNotified(int32_t ALParam);
  void CloseAllHandles(TJvHidDevice* ADevice);
  bool HandOutLocked(TJvHidDevice* AEntry, TJvHidDevice*& HidDev);
  struct TState;
  std::unique_ptr<TState> FState;
};
