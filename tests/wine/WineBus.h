// Shared by the tests on Wine's HID bus: the board's interfaces as the
// Windows backend finds them, and waiting for Wine's bus.
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
