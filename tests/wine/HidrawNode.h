// One hidraw node of a umockdev test bed, as the kernel's hidraw driver
// shows it to a program run under the umockdev preload: the node's sysfs
// record with its HID and USB parents, its ioctls (report descriptor, raw
// info, name, physical address), its reads and its writes.
//
// The node itself is the pseudo-terminal umockdev creates; reads, writes
// and ioctls never reach it, they are answered here. Only its readiness is
// used: one byte stands in the terminal for every input report waiting, so
// a poll() for input behaves as on a real hidraw node.
#pragma once

#include <umockdev.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace winetest {

struct THidrawIdentity {
  uint16_t VendorID = 0;
  uint16_t ProductID = 0;
  uint16_t Version = 0;  // bcdDevice
  std::string Manufacturer;
  std::string Product;
  std::string Serial;
  std::vector<uint8_t> Descriptor;
  std::string UsbPort;  // "1-2": bus 1, port 2
  int HidSequence = 1;  // the kernel's running HID device number
  int HidrawIndex = 0;  // /dev/hidrawN
};

class THidrawNode {
 public:
  // An output report written to the node (report ID first): the count of
  // bytes taken, or -errno.
  using TWriteHandler = std::function<int(const uint8_t* AData, size_t ALength)>;

  THidrawNode(UMockdevTestbed* ATestbed, THidrawIdentity AIdentity, TWriteHandler AOnWrite);
  ~THidrawNode();
  THidrawNode(const THidrawNode&) = delete;
  THidrawNode& operator=(const THidrawNode&) = delete;

  // Creates the records, answers the node's calls from now on and sends the
  // "add" uevent. False with AError filled when umockdev refused.
  bool Add(std::string& AError);
  // Sends the "remove" uevent and removes the records; reads and writes on
  // handles still open fail as on an unplugged device.
  void Remove();
  // Device -> host.
  void QueueInputReport(const std::vector<uint8_t>& AReport);

  std::string DevNode() const;  // "/dev/hidraw0"
  std::string SysPath() const;  // "/sys/devices/.../hidraw/hidraw0"
  // Calls the node did not know, as "ioctl 0x...": they fail with ENOTTY.
  std::vector<std::string> UnknownCalls() const;

 private:
  static gboolean OnIoctl(UMockdevIoctlBase* ABase, UMockdevIoctlClient* AClient, gpointer ASelf);
  static gboolean OnRead(UMockdevIoctlBase* ABase, UMockdevIoctlClient* AClient, gpointer ASelf);
  static gboolean OnWrite(UMockdevIoctlBase* ABase, UMockdevIoctlClient* AClient, gpointer ASelf);
  // Answers one ioctl: the call's result, or -errno.
  long Ioctl(unsigned long ARequest, UMockdevIoctlData* AArg);
  long CopyString(const std::string& AText, size_t ALimit, UMockdevIoctlData* AArg);
  std::string Record() const;
  std::string HidPath() const;
  std::string UsbPath() const;
  void DrainOneByte();

  UMockdevTestbed* FTestbed;
  THidrawIdentity FIdentity;
  TWriteHandler FOnWrite;
  UMockdevIoctlBase* FHandler = nullptr;
  int FMaster = -1;  // umockdev's end of the node's terminal
  int FSlave = -1;   // our own handle of the node's end, to take readiness bytes back
  std::atomic<bool> FPresent{false};
  mutable std::mutex FLock;
  std::deque<std::vector<uint8_t>> FReports;
  std::vector<std::string> FUnknown;
};

}  // namespace winetest
