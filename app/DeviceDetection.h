// How the main window tells of HID devices: the lines it logs for a device
// that arrives, leaves or is left out of a pass, and whether a device is
// the board under its loader (its arrival brings up the settings page).
#pragma once

#include <string>
#include <vector>

#include "JvHidControllerClass.h"
#include "LogUtils.h"

struct TDeviceLine {
  int32_t AID;
  TColor Color;
  std::string Text;
};

bool IsCompatible(TJvHidDevice* AHidDev);
std::vector<TDeviceLine> ArrivalLines(TJvHidDevice* AHidDev);
std::vector<TDeviceLine> RemovalLines(TJvHidDevice* AHidDev);
// Once per device; the board beside it is still found.
std::vector<TDeviceLine> SkippedLines(const TJvHidPnPInfo& AInfo, const std::string& AReason);
