#include "HidrawFile.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace hid {
namespace {

// hidraw queues up to 64 reports per open descriptor (HIDRAW_BUFFER_SIZE).
constexpr uint32_t kKernelQueueLength = 64;
// Longest report hidraw delivers (HID_MAX_BUFFER_SIZE).
constexpr size_t kMaxReport = 16384;

}  // namespace

THidrawFile::THidrawFile(int AFd, TOpenAccess AAccess, std::string ASysPath, bool APrependReportId)
    : Fd(AFd),
      Access(AAccess),
      SysPath(std::move(ASysPath)),
      PrependReportId(APrependReportId),
      QueueLength(kKernelQueueLength) {}

THidrawFile::~THidrawFile() {
  if (Fd >= 0) ::close(Fd);
}

bool THidrawFile::TryCompleteLocked() {
  if (!ReadPending) return false;
  uint8_t* LTarget = ReadBuffer;
  size_t LRoom = ReadLength;
  if (PrependReportId && LRoom > 0) {
    ++LTarget;
    --LRoom;
  }
  const ssize_t LRead = ::read(Fd, LTarget, LRoom);
  if (LRead < 0 && (errno == EAGAIN || errno == EINTR)) return false;
  if (LRead <= 0) {
    CompleteLocked(kErrorDeviceNotConnected, 0);
    return true;
  }
  uint32_t LCount = static_cast<uint32_t>(LRead);
  if (PrependReportId && ReadLength > 0) {
    ReadBuffer[0] = 0;
    ++LCount;
  }
  CompleteLocked(0, LCount);
  return true;
}

void THidrawFile::CompleteLocked(uint32_t AError, uint32_t ACount) {
  if (!ReadPending) return;
  ReadPending = false;
  ReadBuffer = nullptr;
  ReadQueue->Queue([LCompletion = std::move(ReadCompletion), AError, ACount] {
    if (LCompletion) LCompletion(AError, ACount);
  });
  ReadCompletion = nullptr;
  ReadQueue.reset();
}

void THidrawFile::Drain() {
  if (Fd < 0) return;
  static thread_local uint8_t LScratch[kMaxReport];
  pollfd LPoll{Fd, POLLIN, 0};
  while (::poll(&LPoll, 1, 0) > 0 && (LPoll.revents & POLLIN)) {
    if (::read(Fd, LScratch, sizeof LScratch) <= 0) return;
  }
}

}  // namespace hid
