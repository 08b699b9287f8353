// --list: every HID device the controller sees, with its identity, names,
// node, USB port and whether it can be opened for the loader's report I/O.
#pragma once

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

// Writes one line per device, then one per device left out; returns the
// number of devices.
int ListDevices(TJvHidDeviceController& AController, const std::vector<TSkippedDevice>& ASkipped,
                std::ostream& AOut);
