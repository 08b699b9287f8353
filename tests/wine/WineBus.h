// Shared by the tests on Wine's HID bus: the board's interfaces as the
// Windows backend finds them, waiting for Wine's bus, and the one place
// where Wine's HID class driver and Windows disagree on a value the loader
// client checks.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BoardLink.h"
#include "HidPlatform.h"

namespace winetest {

constexpr uint16_t kBoardVendor = 0x2047;
constexpr uint16_t kBoardProduct = 0x0200;
constexpr uint32_t kBoardReport = 64;  // report ID included
constexpr uint8_t kBoardReportId = 0x3F;
// Wine's bus turns a udev event into a device within a second or two.
constexpr DWORD kBusWaitMs = 10000;
// After Wine's start, before the first board leaves (WineBus.cpp).
constexpr DWORD kStartSettleMs = 1000;

bool RunningOnWine();
// "\\?\hid#vid_2047&pid_0200..." in any letter case.
bool IsBoardPath(const std::string& APath);
// The board's interfaces in one discovery pass of the Windows backend.
std::vector<hid::TDiscoveredInterface> BoardInterfaces();
// Runs the thread's messages and completion routines until AUntil() or
// the time is up; false on time-out.
bool PumpUntil(const std::function<bool()>& AUntil, DWORD ATimeoutMs = kBusWaitMs);
bool WaitForBoardInterfaces(size_t ACount);
// A new board (resident loader, old firmware) in place of the old one,
// once Wine's bus has seen the old one go: true when Wine shows it.
bool ResetBoard();

// The Windows backend as it is, except for the byte count of a write:
// Wine 8's HID class driver reports one byte less than the report for a
// report with a non-zero ID (its IOCTL_HID_WRITE_REPORT path takes one off
// for the ID byte), where Windows reports the whole report. Only that
// count is put back, so the loader client's own check sees what it sees
// on Windows.
class TWineWriteCount : public hid::IHidPlatform {
 public:
  explicit TWineWriteCount(hid::IHidPlatform& ABackend) : FBackend(ABackend) {}
  bool Bind() override { return FBackend.Bind(); }
  void Unbind() override { FBackend.Unbind(); }
  bool Enumerate(std::vector<hid::TDiscoveredInterface>& AOut) override { return FBackend.Enumerate(AOut); }
  hid::THidHandle Open(const std::string& APath, hid::TOpenAccess AAccess) override {
    return FBackend.Open(APath, AAccess);
  }
  void Close(hid::THidHandle AHandle) override { FBackend.Close(AHandle); }
  bool GetAttributes(hid::THidHandle AHandle, hid::THidAttributes& AOut) override {
    return FBackend.GetAttributes(AHandle, AOut);
  }
  bool GetManufacturerString(hid::THidHandle AHandle, std::string& AOut) override {
    return FBackend.GetManufacturerString(AHandle, AOut);
  }
  bool GetProductString(hid::THidHandle AHandle, std::string& AOut) override {
    return FBackend.GetProductString(AHandle, AOut);
  }
  hid::TPreparsedData GetPreparsedData(hid::THidHandle AHandle) override { return FBackend.GetPreparsedData(AHandle); }
  bool GetCaps(const hid::TPreparsedData& AData, hid::THidCaps& AOut) override { return FBackend.GetCaps(AData, AOut); }
  bool SetNumInputBuffers(hid::THidHandle AHandle, uint32_t ACount) override {
    return FBackend.SetNumInputBuffers(AHandle, ACount);
  }
  bool GetNumInputBuffers(hid::THidHandle AHandle, uint32_t& ACount) override {
    return FBackend.GetNumInputBuffers(AHandle, ACount);
  }
  bool FlushQueue(hid::THidHandle AHandle) override { return FBackend.FlushQueue(AHandle); }
  bool Write(hid::THidHandle AHandle, const uint8_t* AData, uint32_t ALength, uint32_t& AWritten) override;
  bool StartRead(hid::THidHandle AHandle, uint8_t* ABuffer, uint32_t ALength,
                 hid::TReadCompletion ACompletion) override {
    return FBackend.StartRead(AHandle, ABuffer, ALength, std::move(ACompletion));
  }
  void CancelRead(hid::THidHandle AHandle) override { FBackend.CancelRead(AHandle); }
  bool AlertableWait(uint32_t ATimeoutMs) override { return FBackend.AlertableWait(ATimeoutMs); }
  void WatchChanges(hid::TChangeNotify ANotify) override { FBackend.WatchChanges(std::move(ANotify)); }
  void UnwatchChanges() override { FBackend.UnwatchChanges(); }
  void CancelIo(hid::THidHandle AHandle) override { FBackend.CancelIo(AHandle); }
  std::string HidGuid() override { return FBackend.HidGuid(); }
  std::string OpenFailureHint(uint32_t ACode) override { return FBackend.OpenFailureHint(ACode); }

  int Corrected() const { return FCorrected; }

 private:
  hid::IHidPlatform& FBackend;
  int FCorrected = 0;
};

// Each test starts with a new board (resident loader, old firmware) shown
// by Wine's bus; the backend is bound for the test's duration.
class TWineBoardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;
  static bool Linked;  // run by wine_hid_board
};

}  // namespace winetest
