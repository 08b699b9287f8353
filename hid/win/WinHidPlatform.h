// Windows backend: discovery through SetupAPI, identity, strings and
// capabilities through HID.dll (both bound at run time), report I/O through
// the file services, notifications through a hidden window.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "HidPlatform.h"
#include "NotifyWindow.h"

namespace hid::win {

// The file services that opens and report I/O go through: the system's,
// or those of a driver that a test stands in for.
struct TFileCalls {
  decltype(&::CreateFileW) Open = &::CreateFileW;
  decltype(&::WriteFile) Write = &::WriteFile;
  decltype(&::ReadFileEx) Read = &::ReadFileEx;
  decltype(&::CancelIoEx) Cancel = &::CancelIoEx;
};

class TWinHidPlatform : public IHidPlatform {
 public:
  bool Bind() override;
  void Unbind() override;
  bool Enumerate(std::vector<TDiscoveredInterface>& AOut) override;
  THidHandle Open(const std::string& APath, TOpenAccess AAccess) override;
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
  std::string HidGuid() override;

  struct TRead;

 protected:
  TFileCalls FFile;

 private:
  static void CALLBACK ReadDone(DWORD AError, DWORD ACount, LPOVERLAPPED AOverlapped);
  void Finished(TRead* ARead);
  // Copies an ended read's report to its caller, once (FLock held, or the
  // read not yet shared).
  static void TakeReport(TRead& ARead);
  // Whether APath is among the present HID interfaces (true when that
  // cannot be told).
  bool Present(const std::string& APath);

  std::mutex FLock;
  std::map<THidHandle, std::shared_ptr<TRead>> FReads;  // outstanding read per handle
  std::unique_ptr<TNotifyWindow> FWindow;
  std::atomic<HWND> FWindowHandle{nullptr};
};

}  // namespace hid::win
