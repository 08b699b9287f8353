// The technician's words for a board that was found but cannot be used for
// report I/O. Plain text, shared by the window and the command line.
#pragma once

#include <string>

#include "JvHidControllerClass.h"

// Names the device node (or device path), the system's reason and the fix.
std::string DeviceOpenErrorText(const TJvHidDeviceError& AError);
