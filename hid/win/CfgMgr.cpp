#include "CfgMgr.h"

#include "DllBinding.h"

namespace hid::win {
namespace {

using winbind::Bind;
using winbind::TDllBinding;

TCfgMgr GCfgMgr;
TDllBinding GBinding(L"cfgmgr32.dll");

}  // namespace

const TCfgMgr& CfgMgr() { return GCfgMgr; }

bool LoadCfgMgr() {
  return GBinding.Acquire({Bind("CM_Get_Parent", GCfgMgr.GetParent),
                           Bind("CM_Get_Device_IDW", GCfgMgr.GetDeviceIdW)});
}

void UnloadCfgMgr() { GBinding.Release(); }

}  // namespace hid::win
