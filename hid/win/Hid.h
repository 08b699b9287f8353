// The HID class library HID.dll, bound at run time.
#pragma once

#include <windows.h>
// clang-format off
#include <hidsdi.h>
#include <hidpi.h>
// clang-format on

namespace hid::win {

struct THidApi {
  decltype(&::HidD_GetHidGuid) GetHidGuid = nullptr;
  decltype(&::HidD_GetAttributes) GetAttributes = nullptr;
  decltype(&::HidD_GetPreparsedData) GetPreparsedData = nullptr;
  decltype(&::HidD_FreePreparsedData) FreePreparsedData = nullptr;
  decltype(&::HidP_GetCaps) GetCaps = nullptr;
  decltype(&::HidD_GetManufacturerString) GetManufacturerString = nullptr;
  decltype(&::HidD_GetProductString) GetProductString = nullptr;
  decltype(&::HidD_SetNumInputBuffers) SetNumInputBuffers = nullptr;
  decltype(&::HidD_GetNumInputBuffers) GetNumInputBuffers = nullptr;
  decltype(&::HidD_FlushQueue) FlushQueue = nullptr;
};

// Valid while bound.
const THidApi& HidApi();
bool LoadHid();
void UnloadHid();
bool IsHidLoaded();

}  // namespace hid::win
