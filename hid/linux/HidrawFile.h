// One open hidraw node and the one read that may be outstanding on it.
// Shared by the platform's handle table and the read pump; the descriptor
// is closed only when both have let go, so no thread ever uses a closed or
// reused descriptor.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Apc.h"
#include "HidPlatform.h"

namespace hid {

// Report lengths from the node's report descriptor, report-ID byte
// included (as Windows counts them). Known is false when the descriptor
// could not be read or parsed: lengths are then not checked.
struct TReportLengths {
  bool Known = false;
  uint16_t Input = 0;
  uint16_t Output = 0;
};

struct THidrawFile {
  THidrawFile(int AFd, TOpenAccess AAccess, std::string ASysPath, bool APrependReportId,
              TReportLengths ALengths);
  ~THidrawFile();
  THidrawFile(const THidrawFile&) = delete;
  THidrawFile& operator=(const THidrawFile&) = delete;

  const int Fd;  // -1 for a query-only handle: identity comes from sysfs
  const TOpenAccess Access;
  const std::string SysPath;
  // hidraw leaves out the ID byte of devices without report IDs; Windows
  // hands a 0 there, and so do we.
  const bool PrependReportId;
  const TReportLengths Lengths;
  const uint32_t QueueLength;

  std::mutex Lock;  // guards the read below
  bool ReadPending = false;
  uint8_t* ReadBuffer = nullptr;
  uint32_t ReadLength = 0;
  TReadCompletion ReadCompletion;
  std::shared_ptr<TApcQueue> ReadQueue;

  // Lock held: reads one report into the pending read's buffer. False when
  // nothing was waiting; completes the read otherwise (with an error when
  // the device is gone).
  bool TryCompleteLocked();
  // Lock held: queues the completion of the pending read and forgets it.
  void CompleteLocked(uint32_t AError, uint32_t ACount);
  // Drops every report the kernel queued for this descriptor.
  void Drain();

  // One output report. The descriptor is non-blocking: the call waits in
  // poll for room or for Cancel, so a device that stopped reading cannot
  // hold the writing thread once it is unplugged.
  bool WriteReport(const uint8_t* AData, uint32_t ALength, uint32_t& AWritten);
  // The device is gone: a write waiting for room and every later write
  // fail with kErrorDeviceNotConnected; so does a pending read.
  void Cancel();

 private:
  std::atomic<bool> FCancelled{false};
  int FCancelFd = -1;  // readable once cancelled
};

// errno and its text, recorded as the calling thread's last error.
void SetErrnoError(int AErrno, const std::string& AWhat);
// "The device is not connected." with kErrorDeviceNotConnected.
void SetNotConnectedError();

}  // namespace hid
