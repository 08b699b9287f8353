#include "HidrawFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

namespace hid {
namespace {

// hidraw queues up to 64 reports per open descriptor (HIDRAW_BUFFER_SIZE).
constexpr uint32_t kKernelQueueLength = 64;
// Longest report hidraw delivers (HID_MAX_BUFFER_SIZE).
constexpr size_t kMaxReport = 16384;
// A report the device has not taken within this is given up, as on
// Windows: a board that stops taking reports while it stays on the bus
// must not hold the update for ever.
constexpr auto kWriteLimit = std::chrono::milliseconds(1000);

// An interrupted or busy call is made again.
bool Transient(int AErrno) { return AErrno == EINTR || AErrno == EAGAIN; }

}  // namespace

void SetErrnoError(int AErrno, const std::string& AWhat) {
  char LText[128];
  const char* LMessage = ::strerror_r(AErrno, LText, sizeof LText);
  SetLastSystemError(static_cast<uint32_t>(AErrno), AWhat.empty() ? LMessage : AWhat + ": " + LMessage);
}

void SetNotConnectedError() { SetLastSystemError(kErrorDeviceNotConnected, "The device is not connected."); }

THidrawFile::THidrawFile(int AFd, TOpenAccess AAccess, std::string ASysPath, bool APrependReportId,
                         TReportLengths ALengths)
    : Fd(AFd),
      Access(AAccess),
      SysPath(std::move(ASysPath)),
      PrependReportId(APrependReportId),
      Lengths(ALengths),
      QueueLength(kKernelQueueLength) {
  if (Fd >= 0) FCancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

THidrawFile::~THidrawFile() {
  if (Fd >= 0) ::close(Fd);
  if (FCancelFd >= 0) ::close(FCancelFd);
}

bool THidrawFile::TryCompleteLocked() {
  if (!ReadPending) return false;
  if (FCancelled) {
    CompleteLocked(kErrorDeviceNotConnected, 0);
    return true;
  }
  uint8_t* LTarget = ReadBuffer;
  size_t LRoom = ReadLength;
  // One report at most: a node that is a stream underneath (a test's
  // pseudo-terminal) must not run two reports together.
  if (Lengths.Known && Lengths.Input > 0) LRoom = std::min<size_t>(LRoom, Lengths.Input);
  if (PrependReportId && LRoom > 0) {
    ++LTarget;
    --LRoom;
  }
  const ssize_t LRead = ::read(Fd, LTarget, LRoom);
  if (LRead < 0 && Transient(errno)) return false;
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

bool THidrawFile::WriteReport(const uint8_t* AData, uint32_t ALength, uint32_t& AWritten) {
  const auto LDeadline = std::chrono::steady_clock::now() + kWriteLimit;
  for (;;) {
    if (FCancelled) {
      SetNotConnectedError();
      return false;
    }
    const ssize_t LWritten = ::write(Fd, AData, ALength);
    if (LWritten >= 0) {
      AWritten = static_cast<uint32_t>(LWritten);
      return true;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      SetErrnoError(errno, "write");
      return false;
    }
    // No room: wait for it, for the cancel, or until the limit.
    const auto LLeft =
        std::chrono::duration_cast<std::chrono::milliseconds>(LDeadline - std::chrono::steady_clock::now());
    if (LLeft.count() <= 0) {
      SetErrnoError(ETIMEDOUT, "write: the device took no report for " + std::to_string(kWriteLimit.count()) + " ms");
      return false;
    }
    pollfd LPolls[2] = {{Fd, POLLOUT, 0}, {FCancelFd, POLLIN, 0}};
    if (::poll(LPolls, 2, static_cast<int>(LLeft.count())) < 0 && !Transient(errno)) {
      SetErrnoError(errno, "poll");
      return false;
    }
  }
}

void THidrawFile::Cancel() {
  FCancelled = true;
  if (FCancelFd >= 0) {
    const uint64_t LOne = 1;
    [[maybe_unused]] ssize_t LIgnored = ::write(FCancelFd, &LOne, sizeof LOne);
  }
  std::lock_guard<std::mutex> LGuard(Lock);
  CompleteLocked(kErrorDeviceNotConnected, 0);
}

}  // namespace hid
