#include "ReadPump.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace hid {

TReadPump::TReadPump() {
  FWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FWakeFd < 0) throw std::runtime_error("hidraw read pump: eventfd failed");
  FThread = std::thread([this] { Run(); });
}

TReadPump::~TReadPump() {
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    FStop = true;
  }
  Wake();
  FThread.join();
  ::close(FWakeFd);
}

void TReadPump::Watch(std::shared_ptr<THidrawFile> AFile) {
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    if (std::find(FFiles.begin(), FFiles.end(), AFile) == FFiles.end()) FFiles.push_back(std::move(AFile));
  }
  Wake();
}

void TReadPump::Wake() {
  const uint64_t LOne = 1;
  [[maybe_unused]] ssize_t LIgnored = ::write(FWakeFd, &LOne, sizeof LOne);
}

std::vector<std::shared_ptr<THidrawFile>> TReadPump::Snapshot() {
  std::lock_guard<std::mutex> LGuard(FLock);
  // Files whose read is over (completed, cancelled, closed) leave the list.
  FFiles.erase(std::remove_if(FFiles.begin(), FFiles.end(),
                              [](const std::shared_ptr<THidrawFile>& F) {
                                std::lock_guard<std::mutex> LFileGuard(F->Lock);
                                return !F->ReadPending;
                              }),
               FFiles.end());
  return FFiles;
}

void TReadPump::Run() {
  for (;;) {
    {
      std::lock_guard<std::mutex> LGuard(FLock);
      if (FStop) return;
    }
    // The snapshot keeps every descriptor open while poll looks at it.
    std::vector<std::shared_ptr<THidrawFile>> LFiles = Snapshot();
    std::vector<pollfd> LPolls{{FWakeFd, POLLIN, 0}};
    for (const auto& LFile : LFiles) LPolls.push_back({LFile->Fd, POLLIN, 0});
    if (::poll(LPolls.data(), LPolls.size(), -1) < 0) continue;
    if (LPolls[0].revents & POLLIN) {
      uint64_t LCount;
      [[maybe_unused]] ssize_t LIgnored = ::read(FWakeFd, &LCount, sizeof LCount);
    }
    for (size_t LIdx = 0; LIdx < LFiles.size(); ++LIdx) {
      const short LEvents = LPolls[LIdx + 1].revents;
      if (LEvents == 0) continue;
      std::lock_guard<std::mutex> LFileGuard(LFiles[LIdx]->Lock);
      if (LFiles[LIdx]->TryCompleteLocked()) continue;
      if (LEvents & (POLLHUP | POLLERR | POLLNVAL))
        LFiles[LIdx]->CompleteLocked(kErrorDeviceNotConnected, 0);
    }
  }
}

}  // namespace hid
