#include "Hid.h"

#include "DllBinding.h"

namespace hid::win {
namespace {

using winbind::Bind;
using winbind::TDllBinding;

THidApi GHidApi;
TDllBinding GBinding(L"hid.dll");

}  // namespace

const THidApi& HidApi() { return GHidApi; }

bool LoadHid() {
  return GBinding.Acquire({Bind("HidD_GetHidGuid", GHidApi.GetHidGuid),
                           Bind("HidD_GetAttributes", GHidApi.GetAttributes),
                           Bind("HidD_GetPreparsedData", GHidApi.GetPreparsedData),
                           Bind("HidD_FreePreparsedData", GHidApi.FreePreparsedData),
                           Bind("HidP_GetCaps", GHidApi.GetCaps),
                           Bind("HidD_GetManufacturerString", GHidApi.GetManufacturerString),
                           Bind("HidD_GetProductString", GHidApi.GetProductString),
                           Bind("HidD_SetNumInputBuffers", GHidApi.SetNumInputBuffers),
                           Bind("HidD_GetNumInputBuffers", GHidApi.GetNumInputBuffers),
                           Bind("HidD_FlushQueue", GHidApi.FlushQueue)});
}

void UnloadHid() { GBinding.Release(); }

bool IsHidLoaded() { return GBinding.Bound(); }

}  // namespace hid::win
