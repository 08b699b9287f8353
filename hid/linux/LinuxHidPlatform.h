// Linux backend: discovery and identity through libudev (subsystem
// "hidraw"), change notifications from a udev monitor watched by the event
// loop, report I/O through /dev/hidrawN.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ChangeWatch.h"
#include "HidPlatform.h"
#include "HidrawFile.h"
#include "ReadPump.h"

struct udev;
struct udev_monitor;

namespace hid {

class TLinuxHidPlatform : public IHidPlatform {
 public:
  TLinuxHidPlatform();
  ~TLinuxHidPlatform() override;

  bool Bind() override;
  void Unbind() override;
  bool Enumerate(std::vector<TDiscoveredInterface>& AOut) override;
  THidHandle Open(const std::string& APath, TOpenAccess AAccess) override;
  THidHandle OpenInterface(const TDiscoveredInterface& AInterface, TOpenAccess AAccess) override;
  void Close(THidHandle AHandle) override;
  bool GetAttributes(THidHandle AHandle, THidAttributes& AOut) override;
  bool GetManufacturerString(THidHandle AHandle, std::string& AOut) override;
  bool GetProductString(THidHandle AHandle, std::string& AOut) override;
  TPreparsedData GetPreparsedData(THidHandle AHandle) override;
  bool GetCaps(const TPreparsedData& AData, THidCaps& AOut) override;
  bool SetNumInputBuffers(THidHandle AHandle, uint32_t ACount) override;
  bool GetNumInputBuffers(THidHandle AHandle, uint32_t& ACount) override;
  bool FlushQueue(THidHandle AHandle) override;
  bool Write(THidHandle AHandle, const uint8_t* AData, uint32_t ALength, uint32_t& AWritten) override;
  bool StartRead(THidHandle AHandle, uint8_t* ABuffer, uint32_t ALength,
                 TReadCompletion ACompletion) override;
  void CancelRead(THidHandle AHandle) override;
  bool AlertableWait(uint32_t ATimeoutMs) override;
  void WatchChanges(TChangeNotify ANotify) override;
  void UnwatchChanges() override;
  void RequestChange() override;
  void CancelIo(THidHandle AHandle) override;
  std::string OpenFailureHint(uint32_t ACode) override;
  bool DeviceGoneError(uint32_t ACode) override;

 private:
  std::shared_ptr<THidrawFile> FindLocked(THidHandle AHandle) const;
  std::string SysPathForLocked(const std::string& ADevNode);
  bool InfoLocked(THidHandle AHandle, struct THidrawInfo& AOut);
  uint32_t IdentityLocked(const std::string& AKey);
  TReadPump& Pump();
  void WakePump();
  // The identity key of the device whose node APath is now, from its
  // device number; empty when the node is gone.
  std::string NodeIdentityLocked(const std::string& APath);
  void DrainMonitor();

  mutable std::mutex FLock;  // everything below; libudev contexts are not thread-safe
  int FBindCount = 0;
  udev* FUdev = nullptr;
  std::map<std::string, std::string> FSysPaths;  // device node -> sysfs path, from discovery
  std::map<std::string, uint32_t> FIdentities;   // identity key -> DeviceID
  std::map<uint32_t, std::string> FIdentityKeys; // DeviceID -> identity key
  uint32_t FNextIdentity = 1;
  std::map<THidHandle, std::shared_ptr<THidrawFile>> FFiles;
  THidHandle FNextHandle = 1;
  std::unique_ptr<TReadPump> FPump;
  udev_monitor* FMonitor = nullptr;
  void* FMonitorWatch = nullptr;
  std::shared_ptr<TChangeWatch> FWatch;
};

}  // namespace hid
