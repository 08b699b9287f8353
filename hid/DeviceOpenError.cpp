#include "DeviceOpenError.h"

std::string DeviceOpenErrorText(const TJvHidDeviceError& AError) {
  std::string LText = "The board was found at " + AError.DevicePath +
                      " but cannot be opened for reading and writing.\n";
  LText += "Reason: " + (AError.Reason.empty() ? std::string("unknown") : AError.Reason) + " (error " +
           std::to_string(AError.Code) + ").";
  if (!AError.Hint.empty()) LText += "\n" + AError.Hint;
  return LText;
}
