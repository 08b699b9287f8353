#include "SimTimer.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <future>
#include <mutex>

namespace sim {

using TClock = std::chrono::steady_clock;

struct TSimTimer::TState {
  std::mutex Lock;
  std::condition_variable Changed;
  std::multimap<TClock::time_point, std::function<void()>> Tasks;  // equal times keep order
  bool Stopping = false;
};

void TSimTimer::Run(const std::shared_ptr<TState>& AState) {
  std::unique_lock lock(AState->Lock);
  while (!AState->Stopping) {
    if (AState->Tasks.empty()) {
      AState->Changed.wait(lock);
      continue;
    }
    const auto first = AState->Tasks.begin();
    // A copy: the wait reads it again after the destructor may have
    // dropped the task and its node.
    const TClock::time_point due = first->first;
    if (TClock::now() < due) {
      AState->Changed.wait_until(lock, due);
      continue;
    }
    auto task = std::move(first->second);
    AState->Tasks.erase(first);
    lock.unlock();
    task();
    task = nullptr;  // whatever the task held goes before the lock is taken
    lock.lock();
  }
}

TSimTimer::TSimTimer() : FState(std::make_shared<TState>()) {
  FThread = std::thread([state = FState]() { Run(state); });
}

TSimTimer::~TSimTimer() {
  {
    std::lock_guard lock(FState->Lock);
    FState->Stopping = true;
    FState->Tasks.clear();
  }
  FState->Changed.notify_all();
  if (FThread.get_id() == std::this_thread::get_id())
    FThread.detach();  // the thread keeps its state alive and ends on its own
  else
    FThread.join();
}

void TSimTimer::Drain() {
  // Tasks run one at a time with the lock released; this one runs after the
  // running one, first among those due now.
  std::promise<void> done;
  Schedule(0, [&done]() { done.set_value(); });
  done.get_future().wait();
}

void TSimTimer::Schedule(uint32_t ADelayMs, std::function<void()> ATask) {
  {
    std::lock_guard lock(FState->Lock);
    FState->Tasks.emplace(TClock::now() + std::chrono::milliseconds(ADelayMs), std::move(ATask));
  }
  FState->Changed.notify_all();
}

}  // namespace sim
