#include "SimDevices.h"

namespace sim {
namespace {

// Generic-desktop usages of the HID usage tables.
constexpr uint16_t kUsagePageGenericDesktop = 0x01;
constexpr uint16_t kUsageMouse = 0x02;
constexpr uint16_t kUsageKeyboard = 0x06;
// The loader's datapipe collection is vendor-defined page 0xFF00, usage 1.
constexpr uint16_t kUsagePageVendor = 0xFF00;
constexpr uint16_t kUsageVendorDatapipe = 0x01;

// Boot keyboard: modifiers, reserved byte, six key codes; LEDs out.
constexpr uint16_t kKeyboardInputLength = 8 + 1;
constexpr uint16_t kKeyboardOutputLength = 1 + 1;
// Wheel mouse: buttons, X, Y, wheel; nothing out.
constexpr uint16_t kMouseInputLength = 4 + 1;

std::shared_ptr<TSimDevice> MakeDevice(uint16_t AVendor, uint16_t AProduct, const char* AManufacturer,
                                       const char* AProduct_) {
  auto LDevice = std::make_shared<TSimDevice>();
  LDevice->VendorID = AVendor;
  LDevice->ProductID = AProduct;
  LDevice->Manufacturer = AManufacturer;
  LDevice->Product = AProduct_;
  return LDevice;
}

}  // namespace

std::shared_ptr<TSimDevice> MakeSimKeyboard() {
  auto LDevice = MakeDevice(0x046D, 0xC31C, "Logitech", "USB Keyboard");
  LDevice->Version = 0x6400;
  LDevice->UsagePage = kUsagePageGenericDesktop;
  LDevice->Usage = kUsageKeyboard;
  LDevice->InputReportLength = kKeyboardInputLength;
  LDevice->OutputReportLength = kKeyboardOutputLength;
  LDevice->CanOpenReadWrite = false;
  return LDevice;
}

std::shared_ptr<TSimDevice> MakeSimMouse() {
  auto LDevice = MakeDevice(0x046D, 0xC077, "Logitech", "USB Optical Mouse");
  LDevice->Version = 0x7200;
  LDevice->UsagePage = kUsagePageGenericDesktop;
  LDevice->Usage = kUsageMouse;
  LDevice->InputReportLength = kMouseInputLength;
  LDevice->OutputReportLength = 0;
  LDevice->CanOpenReadWrite = false;
  return LDevice;
}

std::shared_ptr<TSimDevice> MakeSimUnopenableDevice() {
  auto LDevice = MakeDevice(0x1234, 0x0001, "Generic", "Locked HID device");
  LDevice->CanOpen = false;
  LDevice->CanOpenReadWrite = false;
  return LDevice;
}

std::shared_ptr<TSimDevice> MakeSimUnidentifiableDevice() {
  auto LDevice = MakeDevice(0x1234, 0x0002, "Generic", "Mute HID device");
  LDevice->CanIdentify = false;
  return LDevice;
}

std::shared_ptr<TSimDevice> MakePlainSimBoard() {
  auto LDevice = MakeDevice(kBslVendorID, kBslProductID, "Texas Instruments", "MSP430 USB BSL");
  LDevice->Version = 0x0100;
  LDevice->UsagePage = kUsagePageVendor;
  LDevice->Usage = kUsageVendorDatapipe;
  LDevice->InputReportLength = kBslReportLength;
  LDevice->OutputReportLength = kBslReportLength;
  LDevice->InterruptEndpoints = kBslInterruptEndpoints;
  return LDevice;
}

}  // namespace sim
