// Per-thread completion queue for the backends that have no native
// asynchronous procedure calls (Linux, the simulated bus): a read's
// completion is queued to the thread that started the read and runs only
// inside that thread's alertable wait, as on Windows.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace hid {

class TApcQueue {
 public:
  // Any thread: queues AFn for the owning thread and wakes its wait.
  void Queue(std::function<void()> AFn);
  // Owning thread only: waits up to ATimeoutMs for queued work, then runs
  // everything queued; true when at least one function ran.
  bool Wait(uint32_t ATimeoutMs);
  size_t Pending() const;

 private:
  mutable std::mutex FLock;
  std::condition_variable FQueued;
  std::deque<std::function<void()>> FWork;
};

// The calling thread's queue, created on first use. Holders may keep it
// after the thread ended; its work then never runs.
std::shared_ptr<TApcQueue> CurrentThreadApcQueue();

// The alertable wait of the non-Windows backends.
bool AlertableWaitOnCurrentThread(uint32_t ATimeoutMs);

}  // namespace hid
