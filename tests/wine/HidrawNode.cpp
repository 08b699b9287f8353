#include "HidrawNode.h"

#include "HexText.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace winetest {
namespace {

// The node's ioctl number without its size field, for the calls that carry
// the caller's buffer length in it.
constexpr unsigned long kSizeMask = static_cast<unsigned long>(_IOC_SIZEMASK) << _IOC_SIZESHIFT;

std::string Format(const char* AFormat, unsigned AValue1, unsigned AValue2 = 0, unsigned AValue3 = 0) {
  char LText[96];
  std::snprintf(LText, sizeof LText, AFormat, AValue1, AValue2, AValue3);
  return LText;
}

// The memory behind the ioctl's pointer argument, ALength bytes of it;
// null when the caller passed no memory. Owned by the caller.
UMockdevIoctlData* Resolve(UMockdevIoctlData* AArg, size_t ALength) {
  GError* LError = nullptr;
  UMockdevIoctlData* LData = umockdev_ioctl_data_resolve(AArg, 0, ALength, &LError);
  if (LError) g_error_free(LError);
  return LData;
}

}  // namespace

THidrawNode::THidrawNode(UMockdevTestbed* ATestbed, THidrawIdentity AIdentity, TWriteHandler AOnWrite)
    : FTestbed(ATestbed), FIdentity(std::move(AIdentity)), FOnWrite(std::move(AOnWrite)) {}

THidrawNode::~THidrawNode() {
  Remove();
  if (FHandler) {
    g_signal_handlers_disconnect_by_data(FHandler, this);
    g_object_unref(FHandler);
  }
  if (FSlave >= 0) ::close(FSlave);
}

std::string THidrawNode::DevNode() const { return "/dev/hidraw" + std::to_string(FIdentity.HidrawIndex); }

std::string THidrawNode::UsbPath() const {
  return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + FIdentity.UsbPort;
}

std::string THidrawNode::HidPath() const {
  return UsbPath() + "/" + FIdentity.UsbPort + ":1.0/" +
         Format("0003:%04X:%04X.", FIdentity.VendorID, FIdentity.ProductID) +
         Format("%04X", static_cast<unsigned>(FIdentity.HidSequence));
}

std::string THidrawNode::SysPath() const {
  return HidPath() + "/hidraw/hidraw" + std::to_string(FIdentity.HidrawIndex);
}

// A umockdev record, parents first: the test bed announces each device as
// it reads it, and a reader of the node's event looks at its parents.
std::string THidrawNode::Record() const {
  const THidrawIdentity& I = FIdentity;
  const std::string LIndex = std::to_string(I.HidrawIndex);
  const std::string LIds = Format("0003:%08X:%08X", I.VendorID, I.ProductID);
  const std::string LProduct = Format("%x/%x/%x", I.VendorID, I.ProductID, I.Version);
  std::string LText;
  LText += "P: " + UsbPath().substr(4) + "\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: PRODUCT=" + LProduct +
           "\nE: SUBSYSTEM=usb\nA: manufacturer=" + I.Manufacturer + "\nA: product=" + I.Product +
           "\nA: serial=" + I.Serial + Format("\nA: bcdDevice=%04x\nA: idVendor=%04x", I.Version, I.VendorID) +
           Format("\nA: idProduct=%04x\n", I.ProductID) + "\n";
  LText += "P: " + UsbPath().substr(4) + "/" + I.UsbPort +
           ":1.0\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid\nE: PRODUCT=" + LProduct +
           "\nE: SUBSYSTEM=usb\nA: bInterfaceClass=03\nA: bInterfaceNumber=00\n\n";
  LText += "P: " + HidPath().substr(4) + "\nE: DRIVER=hid-generic\nE: HID_ID=" + LIds + "\nE: HID_NAME=" +
           I.Manufacturer + " " + I.Product + "\nE: HID_PHYS=usb-0000:00:14.0-" + I.UsbPort.substr(2) +
           "/input0\nE: HID_UNIQ=" + I.Serial + "\nE: SUBSYSTEM=hid\nH: report_descriptor=" + HexText(I.Descriptor, false) +
           "\n\n";
  LText += "P: " + SysPath().substr(4) + "\nN: hidraw" + LIndex + "\nE: DEVNAME=/dev/hidraw" + LIndex +
           "\nE: SUBSYSTEM=hidraw\nE: MAJOR=241\nE: MINOR=" + LIndex + "\n";
  return LText;
}

bool THidrawNode::Add(std::string& AError) {
  GError* LError = nullptr;
  // The handler first: a reader that opens the node on its "add" event
  // must find it.
  if (!FHandler) {
    FHandler = umockdev_ioctl_base_new();
    g_signal_connect(FHandler, "handle-ioctl", G_CALLBACK(&THidrawNode::OnIoctl), this);
    g_signal_connect(FHandler, "handle-read", G_CALLBACK(&THidrawNode::OnRead), this);
    g_signal_connect(FHandler, "handle-write", G_CALLBACK(&THidrawNode::OnWrite), this);
  }
  if (!umockdev_testbed_attach_ioctl(FTestbed, DevNode().c_str(), FHandler, &LError)) {
    AError = LError ? LError->message : "umockdev refused the ioctl handler";
    if (LError) g_error_free(LError);
    return false;
  }
  FPresent = true;
  // Sends the "add" event: this program runs under umockdev's preload.
  if (!umockdev_testbed_add_from_string(FTestbed, Record().c_str(), &LError)) {
    AError = LError ? LError->message : "umockdev refused the record";
    if (LError) g_error_free(LError);
    return false;
  }
  std::lock_guard<std::mutex> LGuard(FLock);
  FMaster = umockdev_testbed_get_dev_fd(FTestbed, DevNode().c_str());
  gchar* LRoot = umockdev_testbed_get_root_dir(FTestbed);
  char LTerminal[PATH_MAX] = {};
  const std::string LLink = std::string(LRoot) + DevNode();
  g_free(LRoot);
  if (FMaster < 0 || ::readlink(LLink.c_str(), LTerminal, sizeof LTerminal - 1) <= 0) {
    AError = "umockdev made no terminal for " + DevNode();
    return false;
  }
  FSlave = ::open(LTerminal, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (FSlave < 0) {
    AError = std::string("cannot open ") + LTerminal + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void THidrawNode::Remove() {
  if (!FPresent.exchange(false)) return;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    while (!FReports.empty()) {
      FReports.pop_front();
      DrainOneByte();
    }
  }
  umockdev_testbed_uevent(FTestbed, SysPath().c_str(), "remove");
  umockdev_testbed_detach_ioctl(FTestbed, DevNode().c_str(), nullptr);
  // The whole USB device goes, children first, as when the cable is pulled.
  const std::string LInterface = UsbPath() + "/" + FIdentity.UsbPort + ":1.0";
  for (const std::string& LPath : {SysPath(), HidPath(), LInterface, UsbPath()})
    umockdev_testbed_remove_device(FTestbed, LPath.c_str());
}

void THidrawNode::QueueInputReport(const std::vector<uint8_t>& AReport) {
  std::lock_guard<std::mutex> LGuard(FLock);
  if (!FPresent) return;
  FReports.push_back(AReport);
  const char LReady = 'r';
  if (::write(FMaster, &LReady, 1) != 1) std::fprintf(stderr, "hidraw board: %s not signalled\n", DevNode().c_str());
}

void THidrawNode::DrainOneByte() {
  char LReady;
  if (::read(FSlave, &LReady, 1) != 1) std::fprintf(stderr, "hidraw board: %s readiness lost\n", DevNode().c_str());
}

std::vector<std::string> THidrawNode::UnknownCalls() const {
  std::lock_guard<std::mutex> LGuard(FLock);
  return FUnknown;
}

// ---- the node's calls, on umockdev's worker thread ----

gboolean THidrawNode::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* AClient, gpointer ASelf) {
  auto* LSelf = static_cast<THidrawNode*>(ASelf);
  const long LResult =
      LSelf->Ioctl(umockdev_ioctl_client_get_request(AClient), umockdev_ioctl_client_get_arg(AClient));
  umockdev_ioctl_client_complete(AClient, LResult < 0 ? -1 : LResult, LResult < 0 ? static_cast<int>(-LResult) : 0);
  return TRUE;
}

long THidrawNode::Ioctl(unsigned long ARequest, UMockdevIoctlData* AArg) {
  if (!FPresent) return -ENODEV;
  const std::vector<uint8_t>& LDescriptor = FIdentity.Descriptor;
  if (ARequest == HIDIOCGRDESCSIZE) {
    UMockdevIoctlData* LData = Resolve(AArg, sizeof(int));
    if (!LData) return -EFAULT;
    const int LSize = static_cast<int>(LDescriptor.size());
    std::memcpy(LData->data, &LSize, sizeof LSize);
    g_object_unref(LData);
    return 0;
  }
  if (ARequest == HIDIOCGRDESC) {
    UMockdevIoctlData* LData = Resolve(AArg, sizeof(hidraw_report_descriptor));
    if (!LData) return -EFAULT;
    auto* LOut = reinterpret_cast<hidraw_report_descriptor*>(LData->data);
    // The kernel copies as much as the caller asked for, at most the descriptor.
    const long LResult = LOut->size >= HID_MAX_DESCRIPTOR_SIZE ? -EINVAL : 0;
    if (LResult == 0)
      std::copy_n(LDescriptor.begin(), std::min<size_t>(LOut->size, LDescriptor.size()), LOut->value);
    g_object_unref(LData);
    return LResult;
  }
  if (ARequest == HIDIOCGRAWINFO) {
    UMockdevIoctlData* LData = Resolve(AArg, sizeof(hidraw_devinfo));
    if (!LData) return -EFAULT;
    auto* LOut = reinterpret_cast<hidraw_devinfo*>(LData->data);
    LOut->bustype = BUS_USB;
    LOut->vendor = static_cast<int16_t>(FIdentity.VendorID);
    LOut->product = static_cast<int16_t>(FIdentity.ProductID);
    g_object_unref(LData);
    return 0;
  }
  const size_t LLimit = _IOC_SIZE(ARequest);
  if ((ARequest & ~kSizeMask) == (HIDIOCGRAWNAME(0) & ~kSizeMask))
    return CopyString(FIdentity.Manufacturer + " " + FIdentity.Product, LLimit, AArg);
  if ((ARequest & ~kSizeMask) == (HIDIOCGRAWPHYS(0) & ~kSizeMask))
    return CopyString("usb-0000:00:14.0-" + FIdentity.UsbPort.substr(2) + "/input0", LLimit, AArg);
  std::lock_guard<std::mutex> LGuard(FLock);
  FUnknown.push_back(Format("ioctl 0x%08x", static_cast<unsigned>(ARequest)));
  std::fprintf(stderr, "hidraw board: %s: unknown %s\n", DevNode().c_str(), FUnknown.back().c_str());
  return -ENOTTY;
}

// The kernel's string calls: the text and its terminating zero, cut to the
// caller's buffer; the result is the count copied.
long THidrawNode::CopyString(const std::string& AText, size_t ALimit, UMockdevIoctlData* AArg) {
  if (ALimit == 0) return 0;
  UMockdevIoctlData* LData = Resolve(AArg, ALimit);
  if (!LData) return -EFAULT;
  const size_t LCount = std::min(ALimit, AText.size() + 1);
  std::memcpy(LData->data, AText.c_str(), LCount);
  g_object_unref(LData);
  return static_cast<long>(LCount);
}

gboolean THidrawNode::OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* AClient, gpointer ASelf) {
  auto* LSelf = static_cast<THidrawNode*>(ASelf);
  UMockdevIoctlData* LBuffer = umockdev_ioctl_client_get_arg(AClient);
  std::unique_lock<std::mutex> LGuard(LSelf->FLock);
  if (!LSelf->FPresent) {
    LGuard.unlock();
    umockdev_ioctl_client_complete(AClient, -1, EIO);  // the kernel's answer once the device is gone
    return TRUE;
  }
  if (LSelf->FReports.empty()) {
    LGuard.unlock();
    umockdev_ioctl_client_complete(AClient, -1, EAGAIN);
    return TRUE;
  }
  std::vector<uint8_t> LReport = std::move(LSelf->FReports.front());
  LSelf->FReports.pop_front();
  LSelf->DrainOneByte();
  LGuard.unlock();
  const size_t LCount = std::min(LReport.size(), static_cast<size_t>(std::max(LBuffer->data_len, 0)));
  std::copy_n(LReport.begin(), LCount, LBuffer->data);
  umockdev_ioctl_client_complete(AClient, static_cast<long>(LCount), 0);
  return TRUE;
}

gboolean THidrawNode::OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* AClient, gpointer ASelf) {
  auto* LSelf = static_cast<THidrawNode*>(ASelf);
  UMockdevIoctlData* LBuffer = umockdev_ioctl_client_get_arg(AClient);
  if (!LSelf->FPresent) {
    umockdev_ioctl_client_complete(AClient, -1, ENODEV);
    return TRUE;
  }
  const int LResult = LSelf->FOnWrite(LBuffer->data, static_cast<size_t>(std::max(LBuffer->data_len, 0)));
  umockdev_ioctl_client_complete(AClient, LResult < 0 ? -1 : LResult, LResult < 0 ? -LResult : 0);
  return TRUE;
}

}  // namespace winetest
