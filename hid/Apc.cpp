#include "Apc.h"

#include <chrono>

#include "ThreadLocals.h"

namespace hid {

void TApcQueue::Queue(std::function<void()> AFn) {
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    FWork.push_back(std::move(AFn));
  }
  FQueued.notify_all();
}

bool TApcQueue::Wait(uint32_t ATimeoutMs) {
  size_t LCount = 0;
  {
    std::unique_lock<std::mutex> LGuard(FLock);
    FQueued.wait_for(LGuard, std::chrono::milliseconds(ATimeoutMs),
                     [this] { return !FWork.empty(); });
    LCount = FWork.size();
  }
  // Run what was queued when the wait ended, one at a time and outside the
  // lock: a completion may start the next read, which queues here again,
  // and an error escaping one leaves the others queued.
  for (size_t LRan = 0; LRan < LCount; ++LRan) {
    std::function<void()> LFn;
    {
      std::lock_guard<std::mutex> LGuard(FLock);
      LFn = std::move(FWork.front());
      FWork.pop_front();
    }
    LFn();
  }
  return LCount > 0;
}

size_t TApcQueue::Pending() const {
  std::lock_guard<std::mutex> LGuard(FLock);
  return FWork.size();
}

namespace {

const TThreadLocalsSafe kThreadLocalsSafe;

}  // namespace

std::shared_ptr<TApcQueue> CurrentThreadApcQueue() {
  thread_local std::shared_ptr<TApcQueue> LQueue = std::make_shared<TApcQueue>();
  return LQueue;
}

bool AlertableWaitOnCurrentThread(uint32_t ATimeoutMs) {
  return CurrentThreadApcQueue()->Wait(ATimeoutMs);
}

}  // namespace hid
