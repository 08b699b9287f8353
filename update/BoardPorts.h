// Which board an update takes when several may be connected: boards are
// told apart by the USB port they are plugged into, the one thing about
// identical boards without a serial number that stays the same while one
// leaves the bus and comes back under the RAM loader. Plain C++; the
// window and kestrova-flash both go through it.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "JvHidControllerClass.h"

namespace update {

// A device that a look at the controller's list found, not checked out.
struct TBoardSeen {
  TJvHidDevice* Device = nullptr;  // to be compared, never used: it may go at any moment
  uint32_t DeviceID = 0;
  std::string Port;  // empty: the platform cannot tell
};

// Every device not checked out that ATake accepts and whose port is one of
// APorts (empty: any port), in the controller's order. Nothing is checked
// out. ATake is called once for each device looked at.
std::vector<TBoardSeen> BoardsPresent(TJvHidDeviceController& AController,
                                      const std::function<bool(TJvHidDevice*)>& ATake,
                                      const std::vector<std::string>& APorts = {});

// Checks out the device that ASeen found, if it is still there.
bool CheckOutSeen(TJvHidDeviceController& AController, const TBoardSeen& ASeen, TJvHidDevice*& ADevice);

// Held around each look at the list and each check-out with its open, so
// that updates running side by side never close each other's handles (a
// look closes the handles of the devices it passes over).
std::mutex& BoardChoiceLock();

// The board of AFound that went away at APort and is back: the one at that
// port; where the platform cannot tell ports (APort empty), only a lone
// board. -1: none.
int ReturnedBoard(const std::vector<TBoardSeen>& AFound, const std::string& APort);

// A port as the technician reads it ("port unknown" when empty).
std::string PortText(const std::string& APort);
// "1-1.1, 1-1.2 and 1-1.3".
std::string PortList(std::vector<std::string> APorts);
// The refusal when more than one board is there and none was chosen: the
// ports, and what to do.
std::string SeveralBoardsText(const std::vector<std::string>& APorts);
inline constexpr const char* kOnlyOneBoardText = "Connect only the board to update, and try again";

}  // namespace update
