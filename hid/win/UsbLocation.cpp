#include "UsbLocation.h"

#include <cwchar>
#include <vector>

#include "CfgMgr.h"
#include "JvSetupApi.h"

namespace hid::win {
namespace {

// A HID device sits under its USB device, or under one interface of a
// composite USB device, which sits under the USB device.
constexpr int kLevelsToTheUsbDevice = 2;
// Instance IDs of devices that the USB hub driver created.
constexpr wchar_t kUsbEnumerator[] = L"USB\\";
// The last step of an interface's location path ("...#USB(3)#USBMI(0)").
constexpr wchar_t kInterfaceStep[] = L"#USBMI(";
constexpr wchar_t kPciRoot[] = L"PCIROOT(";

bool InstanceId(DEVINST ANode, std::wstring& AOut) {
  wchar_t LId[MAX_DEVICE_ID_LEN + 1] = {};
  if (CfgMgr().GetDeviceIdW(ANode, LId, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return false;
  AOut = LId;
  return true;
}

bool IsUsbDevice(const std::wstring& AInstanceId) {
  const size_t LLength = std::wcslen(kUsbEnumerator);
  return AInstanceId.size() > LLength && ::_wcsnicmp(AInstanceId.c_str(), kUsbEnumerator, LLength) == 0;
}

// The device's location path; empty when it has none.
std::wstring LocationPath(HDEVINFO ASet, const std::wstring& AInstanceId) {
  SP_DEVINFO_DATA LDevice{};
  LDevice.cbSize = sizeof LDevice;
  if (!SetupApi().OpenDeviceInfoW(ASet, AInstanceId.c_str(), nullptr, 0, &LDevice)) return {};
  DWORD LType = 0;
  DWORD LSize = 0;
  SetupApi().GetDeviceRegistryPropertyW(ASet, &LDevice, SPDRP_LOCATION_PATHS, &LType, nullptr, 0, &LSize);
  if (LSize == 0) return {};
  // Two more NULs than asked: a list cut short still ends.
  std::vector<wchar_t> LPaths(LSize / sizeof(wchar_t) + 2, L'\0');
  if (!SetupApi().GetDeviceRegistryPropertyW(ASet, &LDevice, SPDRP_LOCATION_PATHS, &LType,
                                             reinterpret_cast<BYTE*>(LPaths.data()), LSize, nullptr) ||
      LType != REG_MULTI_SZ)
    return {};
  return PciRootEntry(LPaths.data());
}

}  // namespace

// The order of the list is not documented, and the other entries (ACPI
// names) are not there on every machine.
std::wstring PciRootEntry(const wchar_t* AList) {
  for (const wchar_t* LEntry = AList; *LEntry; LEntry += std::wcslen(LEntry) + 1)
    if (::_wcsnicmp(LEntry, kPciRoot, std::wcslen(kPciRoot)) == 0) return LEntry;
  return AList;
}

std::wstring UsbLocationOf(DEVINST ADevInst) {
  HDEVINFO LSet = SetupApi().CreateDeviceInfoList(nullptr, nullptr);
  if (LSet == INVALID_HANDLE_VALUE) return {};
  std::wstring LLocation;
  DEVINST LNode = ADevInst;
  for (int LLevel = 0; LLevel < kLevelsToTheUsbDevice; ++LLevel) {
    DEVINST LParent = 0;
    std::wstring LId;
    if (CfgMgr().GetParent(&LParent, LNode, 0) != CR_SUCCESS || !InstanceId(LParent, LId)) break;
    // Not on USB: no port to name, whatever paths the parent may have.
    if (!IsUsbDevice(LId)) break;
    const std::wstring LPath = LocationPath(LSet, LId);
    if (LPath.find(kInterfaceStep) == std::wstring::npos) {
      LLocation = LPath;
      break;
    }
    LNode = LParent;  // an interface of a composite device: its device is one up
  }
  SetupApi().DestroyDeviceInfoList(LSet);
  return LLocation;
}

}  // namespace hid::win
