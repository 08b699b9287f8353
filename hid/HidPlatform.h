// The one small interface between the HID device object/controller and the
// operating system. Backends: Windows (SetupAPI + HID.dll bound at run time),
// Linux (libudev + hidraw) and the simulated bus under sim/. Nothing above
// hid/ knows which one runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hid {

// Opaque handle to one open device interface. kInvalidHandle when closed.
using THidHandle = intptr_t;
constexpr THidHandle kInvalidHandle = -1;

enum class TOpenAccess {
  ReadWrite,        // synchronous, read and write access
  QueryOnly,        // synchronous, no access rights: identity, strings, caps
  OverlappedRead,   // reads that complete later through a completion routine
  OverlappedWrite,  // overlapped writes (kept for completeness)
};

// One present HID interface as discovery sees it.
struct TDiscoveredInterface {
  std::string Path;  // what every open uses
  // The device instance the interface belongs to. It stays the same while
  // the device stays plugged in, so passes match devices by it. It does not
  // tell devices apart over time: Windows hands a device instance its old
  // number when the same instance ID comes back within the process's life
  // (the same board plugged in again, or any board without a USB serial
  // number on the same port); Linux, the simulated bus and Wine 8 give a
  // new number. A device that leaves and comes back before a pass looks
  // unchanged on Windows, and whoever keeps devices by number forgets the
  // number when a pass reports the device removed.
  uint32_t DeviceID;
  // The USB port the device is plugged into, as the platform names it
  // (Linux: the USB device's name under its bus, "1-1.3"; Windows: the USB
  // device's location path, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(3)";
  // the simulated bus: a name of the same form as Linux's). It stays the
  // same when the device leaves and comes back on that port, under a new
  // DeviceID and with another firmware answering, so it tells identical
  // boards apart where nothing else does. Interfaces of one USB device share
  // it. Empty when the platform cannot tell: a device that is not on USB, or
  // a HID stack that hides the USB parent (Wine's).
  std::string Port;
};

struct THidAttributes {
  uint32_t Size = 12;
  uint16_t VendorID = 0;
  uint16_t ProductID = 0;
  uint16_t VersionNumber = 0;
};

// Layout of the platform's HIDP_CAPS (64 bytes). Report lengths count the
// report-ID byte.
struct THidCaps {
  uint16_t Usage = 0;
  uint16_t UsagePage = 0;
  uint16_t InputReportByteLength = 0;
  uint16_t OutputReportByteLength = 0;
  uint16_t FeatureReportByteLength = 0;
  uint16_t Reserved[17] = {};
  uint16_t NumberLinkCollectionNodes = 0;
  uint16_t NumberInputButtonCaps = 0;
  uint16_t NumberInputValueCaps = 0;
  uint16_t NumberInputDataIndices = 0;
  uint16_t NumberOutputButtonCaps = 0;
  uint16_t NumberOutputValueCaps = 0;
  uint16_t NumberOutputDataIndices = 0;
  uint16_t NumberFeatureButtonCaps = 0;
  uint16_t NumberFeatureValueCaps = 0;
  uint16_t NumberFeatureDataIndices = 0;
};
static_assert(sizeof(THidCaps) == 64, "HIDP_CAPS is 64 bytes");

// The parsed report descriptor of one device, kept by the device object.
using TPreparsedData = std::shared_ptr<const void>;

// Completion of an overlapped read: status (0 = success) and byte count.
// Runs on the thread that started the read, inside that thread's
// AlertableWait (or SleepEx on Windows).
using TReadCompletion = std::function<void(uint32_t AErrorCode, uint32_t ACount)>;

constexpr uint32_t kErrorOperationAborted = 995;   // ERROR_OPERATION_ABORTED
constexpr uint32_t kErrorDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
constexpr uint32_t kErrorPathGone = 2;  // ERROR_FILE_NOT_FOUND, ENOENT: an open of a path that left

// Why the calling thread's last failed platform call failed: the system's
// error number (errno on Linux, GetLastError on Windows) and its text.
struct TSystemError {
  uint32_t Code = 0;
  std::string Text;
};
// Backends record the reason of every failing open, write and read start
// here; it is per thread, as errno and GetLastError are.
void SetLastSystemError(uint32_t ACode, std::string AText);
TSystemError LastSystemError();

// Device-change notification: lParam of the message (-1 for the first pass).
using TChangeNotify = std::function<void(int32_t ALParam)>;

class IHidPlatform {
 public:
  virtual ~IHidPlatform() = default;

  // Binds the platform services (all or nothing, counted per process).
  virtual bool Bind() = 0;
  virtual void Unbind() = 0;

  // Present HID interfaces, in the platform's order. False when the
  // enumeration could not start (the caller then sees no devices).
  virtual bool Enumerate(std::vector<TDiscoveredInterface>& AOut) = 0;

  virtual THidHandle Open(const std::string& APath, TOpenAccess AAccess) = 0;
  // Opens the interface that discovery found, and nothing else: a backend
  // whose paths are reused by later devices refuses a path that now leads
  // to another device.
  virtual THidHandle OpenInterface(const TDiscoveredInterface& AInterface, TOpenAccess AAccess) {
    return Open(AInterface.Path, AAccess);
  }
  virtual void Close(THidHandle AHandle) = 0;

  virtual bool GetAttributes(THidHandle AHandle, THidAttributes& AOut) = 0;
  virtual bool GetManufacturerString(THidHandle AHandle, std::string& AOut) = 0;  // UTF-8
  virtual bool GetProductString(THidHandle AHandle, std::string& AOut) = 0;       // UTF-8
  virtual TPreparsedData GetPreparsedData(THidHandle AHandle) = 0;  // empty on failure
  virtual bool GetCaps(const TPreparsedData& AData, THidCaps& AOut) = 0;

  virtual bool SetNumInputBuffers(THidHandle AHandle, uint32_t ACount) = 0;
  virtual bool GetNumInputBuffers(THidHandle AHandle, uint32_t& ACount) = 0;
  // Drops every input report queued on the handle.
  virtual bool FlushQueue(THidHandle AHandle) = 0;

  // One output report, ID byte first; returns when the platform has
  // finished with it, or gives it up after the platform's time limit (a
  // device that hangs). AWritten: the bytes the platform reports sent
  // (Windows: the whole report, as its class driver sends whole reports
  // or fails).
  virtual bool Write(THidHandle AHandle, const uint8_t* AData, uint32_t ALength,
                     uint32_t& AWritten) = 0;

  // Starts one read of one input report into ABuffer and returns at once.
  // When a report is already queued it is in ABuffer on return. The
  // completion runs later on the starting thread during an alertable wait.
  // At most one read per handle may be outstanding.
  virtual bool StartRead(THidHandle AHandle, uint8_t* ABuffer, uint32_t ALength,
                         TReadCompletion ACompletion) = 0;
  // Cancels the outstanding read of the handle. On return nothing writes into
  // its buffer any more; its completion (with kErrorOperationAborted, unless it
  // had already completed) is still delivered by the next alertable wait.
  virtual void CancelRead(THidHandle AHandle) = 0;

  // Waits up to ATimeoutMs on the calling thread, running the read
  // completions queued to it; returns as soon as at least one ran (true).
  virtual bool AlertableWait(uint32_t ATimeoutMs) = 0;

  // Device-change notifications for the calling (controller's) thread,
  // delivered through that thread's event loop. Watching posts one
  // notification with lParam -1, which runs only once the loop runs.
  virtual void WatchChanges(TChangeNotify ANotify) = 0;
  virtual void UnwatchChanges() = 0;
  // Any thread: one more notification (lParam 0) on the watching thread,
  // as when the system reports a change; requests that come before it runs
  // merge into it. Whoever waits for a device asks for one now and then: a
  // device whose interface could not yet be opened at the last pass is
  // found at the next, even when the system reports nothing more.
  virtual void RequestChange() = 0;

  // Aborts synchronous I/O that another thread has in flight on the handle,
  // so that closing the handle need not wait for a device that hangs.
  virtual void CancelIo(THidHandle AHandle) { (void)AHandle; }
  // The HID device-interface class in registry form; empty when the
  // platform has none (the controller then shows the fixed value).
  virtual std::string HidGuid() { return {}; }
  // What the technician can do about a device that could not be opened for
  // reading and writing with the error ACode; empty when there is no advice.
  virtual std::string OpenFailureHint(uint32_t ACode) {
    (void)ACode;
    return {};
  }
  // Whether a failed open, write or read with the error ACode means that
  // the device has left the system (rather than a transfer that went
  // wrong). A path from a pass that no longer opens has left: the device
  // is gone before the system says so.
  virtual bool DeviceGoneError(uint32_t ACode) {
    return ACode == kErrorDeviceNotConnected || ACode == kErrorPathGone;
  }
};

// The operating system's backend (one per build, chosen by CMake): what the
// controller uses unless it is given a platform.
IHidPlatform& OsPlatform();

// Event loop that the Linux and simulated backends use to deliver
// notifications on the controller's thread. The application installs one
// built on its toolkit; tests install a hand-driven one.
class IHidEventLoop {
 public:
  virtual ~IHidEventLoop() = default;
  // Runs AFn later on the loop's thread (may be called from any thread).
  virtual void Post(std::function<void()> AFn) = 0;
  // Calls AFn on the loop's thread whenever AFd is readable.
  virtual void* WatchReadable(int AFd, std::function<void()> AFn) = 0;
  virtual void Unwatch(void* AWatch) = 0;
};
void SetEventLoop(IHidEventLoop* ALoop);
IHidEventLoop* EventLoop();

// Errors that escape a device-change pass where no event-loop wrapper can
// catch them (the Windows notification window's procedure). The application
// routes them to its error reporting; without a handler they go to stderr.
using TUnhandledErrorHandler = std::function<void(const std::string& AMessage)>;
void SetUnhandledErrorHandler(TUnhandledErrorHandler AHandler);
void ReportUnhandledError(const std::string& AMessage);

}  // namespace hid
