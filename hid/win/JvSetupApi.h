// The device-setup services of SetupApi.dll, bound at run time.
#pragma once

#include <windows.h>
#include <setupapi.h>

namespace hid::win {

struct TSetupApi {
  decltype(&::SetupDiGetClassDevsW) GetClassDevsW = nullptr;
  decltype(&::SetupDiEnumDeviceInterfaces) EnumDeviceInterfaces = nullptr;
  decltype(&::SetupDiGetDeviceInterfaceDetailW) GetDeviceInterfaceDetailW = nullptr;
  decltype(&::SetupDiGetDeviceRegistryPropertyW) GetDeviceRegistryPropertyW = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList = nullptr;
  decltype(&::SetupDiCreateDeviceInfoList) CreateDeviceInfoList = nullptr;
  decltype(&::SetupDiOpenDeviceInfoW) OpenDeviceInfoW = nullptr;
};

// Valid while bound.
const TSetupApi& SetupApi();
bool LoadSetupApi();
void UnloadSetupApi();
bool IsSetupApiLoaded();

}  // namespace hid::win
