// The simulated HID bus: a platform backend whose devices are plugged and
// unplugged by code. Identity, handles, per-handle input-report queues and
// notifications behave as the operating systems' do, so the controller and
// the device objects run unchanged on it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Apc.h"
#include "ChangeWatch.h"
#include "HidPlatform.h"
#include "SimDevice.h"
#include "SimHub.h"

namespace sim {

class TSimBus : public hid::IHidPlatform {
 public:
  TSimBus();
  ~TSimBus() override;
  TSimBus(const TSimBus&) = delete;
  TSimBus& operator=(const TSimBus&) = delete;

  // Thread-safe; a new DeviceID every time; posts a change notification.
  // A device without a port gets the next free one of the bus ("1-1",
  // "1-2", ...) or of its hub ("1-3.1", ...) and keeps it. A device that
  // its single-TT hub has no periodic time left for is refused, as the host
  // refuses it: it never appears (0 is returned, nothing is posted) and the
  // system log says why.
  uint32_t Plug(std::shared_ptr<TSimDevice> ADevice);
  // Plugs the device in under a given identity, as Windows does when a
  // device comes back to the same port before anybody looked.
  uint32_t PlugAs(std::shared_ptr<TSimDevice> ADevice, uint32_t ADeviceID);
  // Thread-safe; every open handle of the device fails from now on (an
  // outstanding read completes with kErrorDeviceNotConnected); notification.
  void Unplug(TSimDevice* ADevice);
  bool IsPlugged(const TSimDevice* ADevice) const;
  // A hub plugged into the next free port of the bus; devices whose Hub it
  // is get its ports.
  std::shared_ptr<TSimHub> AddHub(TSimHubKind AKind);
  std::vector<std::shared_ptr<TSimHub>> Hubs() const;  // in the order they were added
  // Keeps APort out of the ports the bus gives away: a device that names
  // it is plugged in later.
  void ReservePort(const std::string& APort);
  // Where the bus's messages go, one line each, as the kernel's log would
  // show them ("usb 1-1.7: Not enough bandwidth for new device state.");
  // standard error unless set. Empty restores it.
  using TSystemLog = std::function<void(const std::string& ALine)>;
  void SetSystemLog(TSystemLog ALog);
  // Device -> host, any thread: queued on every open read handle of the
  // device (oldest dropped when the queue is full), completing an
  // outstanding read. The report is sized to the device's input length.
  void PushInputReport(TSimDevice* ADevice, std::vector<uint8_t> AReport);

  // Test switches: HID services missing (Bind fails), enumeration failing.
  void SetServicesAvailable(bool AValue);
  void SetEnumerationFails(bool AValue);
  // Open handles of a device (all devices when null), for leak checks.
  size_t OpenHandleCount(const TSimDevice* ADevice = nullptr) const;
  int BindCount() const;
  // Discovery passes so far: a test waits for the pass that saw a change.
  int EnumerationCount() const;
  uint32_t DeviceID(const TSimDevice* ADevice) const;  // 0 when not plugged
  std::vector<std::shared_ptr<TSimDevice>> Devices() const;  // plugged, in plug order

  // hid::IHidPlatform
  bool Bind() override;
  void Unbind() override;
  bool Enumerate(std::vector<hid::TDiscoveredInterface>& AOut) override;
  hid::THidHandle Open(const std::string& APath, hid::TOpenAccess AAccess) override;
  void Close(hid::THidHandle AHandle) override;
  bool GetAttributes(hid::THidHandle AHandle, hid::THidAttributes& AOut) override;
  bool GetManufacturerString(hid::THidHandle AHandle, std::string& AOut) override;
  bool GetProductString(hid::THidHandle AHandle, std::string& AOut) override;
  hid::TPreparsedData GetPreparsedData(hid::THidHandle AHandle) override;
  bool GetCaps(const hid::TPreparsedData& AData, hid::THidCaps& AOut) override;
  bool SetNumInputBuffers(hid::THidHandle AHandle, uint32_t ACount) override;
  bool GetNumInputBuffers(hid::THidHandle AHandle, uint32_t& ACount) override;
  bool FlushQueue(hid::THidHandle AHandle) override;
  bool Write(hid::THidHandle AHandle, const uint8_t* AData, uint32_t ALength,
             uint32_t& AWritten) override;
  bool StartRead(hid::THidHandle AHandle, uint8_t* ABuffer, uint32_t ALength,
                 hid::TReadCompletion ACompletion) override;
  void CancelRead(hid::THidHandle AHandle) override;
  bool AlertableWait(uint32_t ATimeoutMs) override;
  void WatchChanges(hid::TChangeNotify ANotify) override;
  void UnwatchChanges() override;
  void RequestChange() override;
  std::string OpenFailureHint(uint32_t ACode) override;

 private:
  struct TSlot;
  struct THandle;
  struct TPendingRead;

  std::shared_ptr<TSlot> FindSlotLocked(const TSimDevice* ADevice) const;
  std::shared_ptr<THandle> FindHandleLocked(hid::THidHandle AHandle) const;
  // A live handle of a plugged device, else null.
  std::shared_ptr<THandle> LiveHandleLocked(hid::THidHandle AHandle) const;
  void CompleteRead(THandle& AHandle, uint32_t AError, const std::vector<uint8_t>* AReport);
  void PostChange(int32_t ALParam);
  std::shared_ptr<hid::TChangeWatch> Watch();
  uint32_t AddSlotLocked(std::shared_ptr<TSimDevice> ADevice, uint32_t ADeviceID);
  std::string NextFreePortLocked(const std::string& APrefix);
  void Log(const std::string& ALine);

  mutable std::mutex FLock;
  std::vector<std::shared_ptr<TSlot>> FSlots;  // plugged devices, in plug order
  std::map<hid::THidHandle, std::shared_ptr<THandle>> FHandles;
  uint32_t FNextDeviceID;
  hid::THidHandle FNextHandle;
  int FBindCount = 0;
  int FEnumerations = 0;
  bool FServicesAvailable = true;
  bool FEnumerationFails = false;
  std::shared_ptr<hid::TChangeWatch> FWatch;
  std::set<std::string> FPortsGiven;  // every port a device or hub has had
  std::vector<std::weak_ptr<TSimDevice>> FEverPlugged;  // told when the bus goes
  std::vector<std::shared_ptr<TSimHub>> FHubs;
  TSystemLog FSystemLog;
};

}  // namespace sim
