#include "PlainEventLoop.h"

#include <exception>

namespace hid {

void TPlainEventLoop::Post(std::function<void()> AFn) {
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    FPosted.push_back(std::move(AFn));
  }
  Wake();
}

void* TPlainEventLoop::WatchReadable(int AFd, std::function<void()> AFn) {
  FWatches.push_back({AFd, std::move(AFn)});
  return &FWatches.back();
}

void TPlainEventLoop::Unwatch(void* AWatch) {
  FWatches.remove_if([AWatch](const TWatch& W) { return &W == AWatch; });
}

bool TPlainEventLoop::HasPosted() {
  std::lock_guard<std::mutex> LGuard(FLock);
  return !FPosted.empty();
}

void TPlainEventLoop::RunPending() {
  for (;;) {
    std::function<void()> LFn;
    {
      std::lock_guard<std::mutex> LGuard(FLock);
      if (FPosted.empty()) return;
      LFn = std::move(FPosted.front());
      FPosted.pop_front();
    }
    Guarded(LFn);
  }
}

void TPlainEventLoop::RunFor(uint32_t ATimeoutMs) {
  if (HasPosted()) {
    RunPending();
    WaitAndDispatch(0);  // messages and descriptors get their turn too
    return;
  }
  WaitAndDispatch(ATimeoutMs);
  RunPending();
}

void TPlainEventLoop::Guarded(const std::function<void()>& AFn) {
  try {
    AFn();
  } catch (const std::exception& LError) {
    ReportUnhandledError(LError.what());
  } catch (...) {
    ReportUnhandledError("Unknown error");
  }
}

}  // namespace hid
