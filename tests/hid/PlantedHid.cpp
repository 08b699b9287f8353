// A hid.dll that a stranger could leave beside the program: it answers the
// HID class query with a GUID of its own, so the test can tell whether it
// was the one bound.
#include <windows.h>

extern "C" __declspec(dllexport) void WINAPI HidD_GetHidGuid(GUID* AGuid) {
  *AGuid = GUID{0x0BADF00D, 0x0BAD, 0xF00D, {0x0B, 0xAD, 0xF0, 0x0D, 0x0B, 0xAD, 0xF0, 0x0D}};
}
