// --list: every HID device the controller sees, with its identity, names,
// node and whether it can be opened for the loader's report I/O.
#pragma once

#include <ostream>

#include "JvHidControllerClass.h"

// Writes one line per device; returns the number of devices.
int ListDevices(TJvHidDeviceController& AController, std::ostream& AOut);
