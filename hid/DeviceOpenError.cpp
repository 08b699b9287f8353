#include "DeviceOpenError.h"

std::string DeviceOpenErrorText(const TJvHidDeviceError& AError) {
  // A board that is leaving refuses the open too: no other program is to blame.
  std::string LText = AError.Gone ? "The board at " + AError.DevicePath + " left while it was being opened.\n"
                                  : "The board was found at " + AError.DevicePath +
                                        " but cannot be opened for reading and writing.\n";
  LText += "Reason: " + (AError.Reason.empty() ? std::string("unknown") : AError.Reason) + " (error " +
           std::to_string(AError.Code) + ").";
  if (!AError.Hint.empty()) LText += "\n" + AError.Hint;
  return LText;
}
