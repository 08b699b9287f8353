// Where a HID device is plugged in, from the device tree: the location path
// of the USB device it belongs to ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(3)").
// Windows derives it from the chain of ports alone, so it stays the same
// when a board leaves and comes back on that port; the instance ID does
// not (identical boards without a serial number), nor does the hub number
// in "Port_#0003.Hub_#0016".
#pragma once

#include <windows.h>
#include <cfgmgr32.h>

#include <string>

namespace hid::win {

// The location path of the USB device above the HID device ADevInst; empty
// when the device does not hang under a USB device (Bluetooth, Wine's own
// HID bus) or the system gives no path.
std::wstring UsbLocationOf(DEVINST ADevInst);

// Of a list of location paths (REG_MULTI_SZ: each ends with a NUL, the list
// with one more), the entry that starts at the PCI root; the first entry
// when none does.
std::wstring PciRootEntry(const wchar_t* AList);

}  // namespace hid::win
