// --list: every HID device the controller sees, with its identity, names,
// node, USB port and whether it can be opened for the loader's report I/O;
// as lines for people or as the --json stream's device events.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "JvHidControllerClass.h"

// A device interface the controller left out: it could not be opened or
// identified.
struct TSkippedDevice {
  std::string Path;
  std::string Reason;
};

struct TDeviceSeen {
  bool Identified = true;  // false: left out, its IDs and names unknown
  uint16_t VendorID = 0, ProductID = 0;
  std::string VendorName, ProductName;
  std::string Node;
  std::string Port;  // empty: the system does not tell
  bool CanOpen = false;
  std::string WhyNot;  // why it cannot be opened, or why it was left out
  bool Board = false;  // the board under its loader
};

// Every device the controller sees now, then those it left out.
std::vector<TDeviceSeen> SeenDevices(TJvHidDeviceController& AController,
                                     const std::vector<TSkippedDevice>& ASkipped);

// Writes one line per device, and what to do when no board is among them.
void ListDevices(const std::vector<TDeviceSeen>& ADevices, std::ostream& AOut);
