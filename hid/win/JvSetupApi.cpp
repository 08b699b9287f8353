#include "JvSetupApi.h"

#include "DllBinding.h"

namespace hid::win {
namespace {

using winbind::Bind;
using winbind::TDllBinding;

TSetupApi GSetupApi;
TDllBinding GBinding(L"setupapi.dll");

}  // namespace

const TSetupApi& SetupApi() { return GSetupApi; }

bool LoadSetupApi() {
  return GBinding.Acquire({Bind("SetupDiGetClassDevsW", GSetupApi.GetClassDevsW),
                           Bind("SetupDiEnumDeviceInterfaces", GSetupApi.EnumDeviceInterfaces),
                           Bind("SetupDiGetDeviceInterfaceDetailW", GSetupApi.GetDeviceInterfaceDetailW),
                           Bind("SetupDiGetDeviceRegistryPropertyW", GSetupApi.GetDeviceRegistryPropertyW),
                           Bind("SetupDiDestroyDeviceInfoList", GSetupApi.DestroyDeviceInfoList),
                           Bind("SetupDiCreateDeviceInfoList", GSetupApi.CreateDeviceInfoList),
                           Bind("SetupDiOpenDeviceInfoW", GSetupApi.OpenDeviceInfoW)});
}

void UnloadSetupApi() { GBinding.Release(); }

bool IsSetupApiLoaded() { return GBinding.Bound(); }

}  // namespace hid::win
