// A umockdev test bed with fake hidraw devices (sysfs attributes, report
// descriptors, uevents) and a controller on the Linux backend. The tests run
// under umockdev-wrapper, which redirects /sys and /dev into the test bed; a
// device with a node gets a pseudo-terminal whose other end the test holds.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <umockdev.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DescriptorFixtures.h"
#include "JvHidControllerClass.h"
#include "TestEventLoop.h"

// Long enough for a uevent to travel through the mocked netlink socket.
inline constexpr int kEventWaitMs = 3000;

struct TFakeDevice {
  std::string UsbPort;  // "1-2", or "1-1.3" behind a hub
  int HidSequence;      // the kernel's running HID device number
  uint16_t VendorID, ProductID;
  const char* Manufacturer;
  const char* Product;
  const std::vector<uint8_t>* Descriptor;
  int HidrawIndex;
  bool WithNode;  // a pty-backed /dev node the test can talk through
};

inline std::string Hex(const std::vector<uint8_t>& AData) {
  std::string LOut;
  char LByte[3];
  for (uint8_t LValue : AData) {
    std::snprintf(LByte, sizeof LByte, "%02x", LValue);
    LOut += LByte;
  }
  return LOut;
}

inline std::string HidName(const TFakeDevice& ADevice) {
  char LName[32];
  std::snprintf(LName, sizeof LName, "0003:%04X:%04X.%04X", ADevice.VendorID, ADevice.ProductID,
                ADevice.HidSequence);
  return LName;
}

// A device behind a hub ("1-1.3") lies under the hub's own folder ("1-1").
inline std::string UsbPath(const TFakeDevice& ADevice) {
  std::string LPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
  for (size_t LDot = ADevice.UsbPort.find('.'); LDot != std::string::npos; LDot = ADevice.UsbPort.find('.', LDot + 1))
    LPath += "/" + ADevice.UsbPort.substr(0, LDot);
  return LPath + "/" + ADevice.UsbPort;
}

inline std::string HidPath(const TFakeDevice& ADevice) {
  return UsbPath(ADevice) + "/" + ADevice.UsbPort + ":1.0/" + HidName(ADevice);
}

inline std::string HidrawPath(const TFakeDevice& ADevice) {
  return HidPath(ADevice) + "/hidraw/hidraw" + std::to_string(ADevice.HidrawIndex);
}

// A umockdev record: the node first, then its parents.
inline std::string Record(const TFakeDevice& ADevice) {
  char LIds[64];
  std::snprintf(LIds, sizeof LIds, "0003:%08X:%08X", ADevice.VendorID, ADevice.ProductID);
  const std::string LNode = "hidraw" + std::to_string(ADevice.HidrawIndex);
  std::string LText;
  LText += "P: " + HidrawPath(ADevice).substr(4) + "\n";
  if (ADevice.WithNode) LText += "N: " + LNode + "\n";
  LText += "E: DEVNAME=/dev/" + LNode + "\nE: SUBSYSTEM=hidraw\nE: MAJOR=241\nE: MINOR=" +
           std::to_string(ADevice.HidrawIndex) + "\n\n";
  LText += "P: " + HidPath(ADevice).substr(4) + "\nE: DRIVER=hid-generic\nE: HID_ID=" + LIds +
           "\nE: HID_NAME=" + ADevice.Manufacturer + " " + ADevice.Product +
           "\nE: SUBSYSTEM=hid\nH: report_descriptor=" + Hex(*ADevice.Descriptor) + "\n\n";
  LText += "P: " + UsbPath(ADevice).substr(4) + "/" + ADevice.UsbPort +
           ":1.0\nE: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb\n\n";
  char LUsbIds[64];
  std::snprintf(LUsbIds, sizeof LUsbIds, "A: idVendor=%04x\nA: idProduct=%04x\n", ADevice.VendorID,
                ADevice.ProductID);
  LText += "P: " + UsbPath(ADevice).substr(4) + "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nA: manufacturer=" +
           ADevice.Manufacturer + "\nA: product=" + ADevice.Product + "\nA: bcdDevice=0109\n" + LUsbIds + "\n";
  return LText;
}

inline const TFakeDevice kBoard{"1-2", 1, 0x2047, 0x0200, "Texas Instruments", "MSP430 USB BSL", &kBslDatapipeDescriptor,
                         0, true};
inline const TFakeDevice kKeyboard{"1-1.3", 2, 0x046D, 0xC31C, "Logitech", "USB Keyboard", &kBootKeyboardDescriptor, 1,
                            false};
inline const TFakeDevice kMouse{"1-4", 3, 0x046D, 0xC077, "Logitech", "USB Optical Mouse", &kWheelMouseDescriptor, 2,
                         false};

// Plugs the device into the test bed; AAnnounce: with its "add" uevent.
inline void AddFake(UMockdevTestbed* ABed, const TFakeDevice& ADevice, bool AAnnounce) {
  GError* LError = nullptr;
  ASSERT_TRUE(umockdev_testbed_add_from_string(ABed, Record(ADevice).c_str(), &LError))
      << (LError ? LError->message : "");
  if (AAnnounce) umockdev_testbed_uevent(ABed, HidrawPath(ADevice).c_str(), "add");
}

// Unplugs it, with its "remove" uevent.
inline void RemoveFake(UMockdevTestbed* ABed, const TFakeDevice& ADevice) {
  umockdev_testbed_uevent(ABed, HidrawPath(ADevice).c_str(), "remove");
  umockdev_testbed_remove_device(ABed, HidrawPath(ADevice).c_str());
  umockdev_testbed_remove_device(ABed, HidPath(ADevice).c_str());
  umockdev_testbed_remove_device(ABed, (UsbPath(ADevice) + "/" + ADevice.UsbPort + ":1.0").c_str());
  umockdev_testbed_remove_device(ABed, UsbPath(ADevice).c_str());
  if (ADevice.WithNode) {
    // The test bed leaves the node behind; the kernel would remove it.
    gchar* LRoot = umockdev_testbed_get_root_dir(ABed);
    ::unlink((std::string(LRoot) + "/dev/hidraw" + std::to_string(ADevice.HidrawIndex)).c_str());
    g_free(LRoot);
  }
}

// The test loop, also watching descriptors (the udev monitor).
class TPollingEventLoop : public TTestEventLoop {
 public:
  // Runs posted work and readable-descriptor callbacks for AMs, or until
  // AUntil returns true.
  void RunFor(int AMs, const std::function<bool()>& AUntil) {
    const auto LEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
    while (std::chrono::steady_clock::now() < LEnd) {
      RunPending();
      if (AUntil()) return;
      std::vector<pollfd> LPolls;
      for (const TWatch& LWatch : FWatches) LPolls.push_back({LWatch.Fd, POLLIN, 0});
      if (::poll(LPolls.data(), LPolls.size(), 10) <= 0) continue;
      size_t LIdx = 0;
      std::vector<std::function<void()>> LReady;
      for (const TWatch& LWatch : FWatches)
        if (LPolls[LIdx++].revents & POLLIN) LReady.push_back(LWatch.Fn);
      for (auto& LFn : LReady) Guarded(LFn);
    }
  }
};

class TLinuxBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* LPreload = std::getenv("LD_PRELOAD");
    if (!LPreload || !std::strstr(LPreload, "umockdev-preload")) GTEST_SKIP() << "run under umockdev-wrapper";
    Bed = umockdev_testbed_new();
  }

  void TearDown() override {
    Controller.reset();
    if (Bed) g_object_unref(Bed);
  }

  void Add(const TFakeDevice& ADevice, bool AAnnounce) { AddFake(Bed, ADevice, AAnnounce); }
  void Remove(const TFakeDevice& ADevice) { RemoveFake(Bed, ADevice); }

  void CreateController() {
    Controller = std::make_unique<TJvHidDeviceController>();
    Controller->OnArrival = [this](TJvHidDevice* D) { Events.push_back("arrival " + D->ProductName()); };
    Controller->OnRemoval = [this](TJvHidDevice* D) { Events.push_back("removal " + D->ProductName()); };
  }

  // The board plugged in, listed and checked out; AOtherEnd: the other end
  // of its node.
  TJvHidDevice* BoardCheckedOut(int& AOtherEnd) {
    Add(kBoard, false);
    CreateController();
    Loop.RunPending();
    TJvHidDevice* LBoard = nullptr;
    if (!Controller->CheckOutByID(LBoard, 0x2047, 0x0200)) return nullptr;
    AOtherEnd = umockdev_testbed_get_dev_fd(Bed, "/dev/hidraw0");
    return LBoard;
  }

  void WaitForEvents(size_t ACount) {
    Loop.RunFor(kEventWaitMs, [&] { return Events.size() >= ACount; });
  }

  UMockdevTestbed* Bed = nullptr;
  TPollingEventLoop Loop;
  std::unique_ptr<TJvHidDeviceController> Controller;
  std::vector<std::string> Events;
};

