// One open hidraw node and the one read that may be outstanding on it.
// Shared by the platform's handle table and the read pump; the descriptor
// is closed only when both have let go, so no thread ever uses a closed or
// reused descriptor.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Apc.h"
#include "HidPlatform.h"

namespace hid {

struct THidrawFile {
  THidrawFile(int AFd, TOpenAccess AAccess, std::string ASysPath, bool APrependReportId);
  ~THidrawFile();
  THidrawFile(const THidrawFile&) = delete;
  THidrawFile& operator=(const THidrawFile&) = delete;

  const int Fd;  // -1 for a query-only handle: identity comes from sysfs
  const TOpenAccess Access;
  const std::string SysPath;
  // hidraw leaves out the ID byte of devices without report IDs; Windows
  // hands a 0 there, and so do we.
  const bool PrependReportId;
  uint32_t QueueLength;

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
};

}  // namespace hid
