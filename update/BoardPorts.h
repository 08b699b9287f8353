// Which board an update takes when several may be connected: boards are
// told apart by the USB port they are plugged into, the one thing about
// identical boards without a serial number that stays the same while one
// leaves the bus and comes back under the RAM loader. Every look at the
// controller's list and every check-out of a board goes through one
// TBoardPorts per controller, which holds them one at a time, so that
// updates running side by side never close each other's handles (a look
// closes the handles of the devices it passes over). Plain C++; the window
// and kestrova-flash both go through it.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "JvHidControllerClass.h"

namespace update {

// Whether a device is a board to take; called once for each device looked at.
using TBoardTest = std::function<bool(TJvHidDevice* ADevice)>;

// A device that a look at the controller's list found, not checked out.
struct TBoardSeen {
  TJvHidDevice* Device = nullptr;  // to be compared, never used: it may go at any moment
  uint32_t DeviceID = 0;
  std::string Port;  // empty: the platform cannot tell
};

class TBoardPorts {
 public:
  explicit TBoardPorts(std::shared_ptr<TJvHidDeviceController> AController);

  TJvHidDeviceController& Controller() const { return *FController; }

  // Every device not checked out that ATake accepts and whose port is one
  // of APorts (empty: any port), in the controller's order. Nothing is
  // checked out.
  std::vector<TBoardSeen> Present(const TBoardTest& ATake, const std::vector<std::string>& APorts = {});

  // Checks out the board that ATake accepts at APort. With APort empty
  // (the lone board, or a platform that cannot tell ports) only a board
  // that is alone is taken. Null when none was taken; AFound then tells
  // whether there was none or more than one.
  TJvHidDevice* Take(const TBoardTest& ATake, const std::string& APort, std::vector<TBoardSeen>& AFound);

 private:
  std::vector<TBoardSeen> PresentLocked(const TBoardTest& ATake, const std::vector<std::string>& APorts);

  std::shared_ptr<TJvHidDeviceController> FController;
  std::mutex FLock;
};

std::vector<std::string> PortsOf(const std::vector<TBoardSeen>& ABoards);
// A port as the technician reads it ("port unknown" when empty).
std::string PortText(const std::string& APort);
// The port where a line has little room (the gang's lines on a terminal):
// a Windows location path as its PCI functions and USB ports, the way Linux
// names a port ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(3)" is
// "14.0-1.3"), anything else as PortText. Two ports never share a short
// form; a path of another shape stays whole.
std::string PortShortText(const std::string& APort);
// "1-1.1, 1-1.2 and 1-1.3".
std::string PortList(std::vector<std::string> APorts);
// The refusal when more than one board is there and none was chosen: the
// ports, and what to do.
std::string SeveralBoardsText(const std::vector<std::string>& APorts);

}  // namespace update
