// The configuration manager of CfgMgr32.dll, bound at run time: the device
// tree above a HID device, up to the USB device it belongs to.
#pragma once

#include <windows.h>
#include <cfgmgr32.h>

namespace hid::win {

struct TCfgMgr {
  decltype(&::CM_Get_Parent) GetParent = nullptr;
  decltype(&::CM_Get_Device_IDW) GetDeviceIdW = nullptr;
};

// Valid while bound.
const TCfgMgr& CfgMgr();
bool LoadCfgMgr();
void UnloadCfgMgr();

}  // namespace hid::win
