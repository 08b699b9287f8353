// One background thread that runs delayed tasks of a simulated device in
// due order (late answers, leaving and coming back to the bus).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace sim {

class TSimTimer {
 public:
  TSimTimer();
  // Drops the tasks not yet due and ends the thread; a task that is running
  // finishes first (joined, or detached when the task itself is the caller).
  ~TSimTimer();
  TSimTimer(const TSimTimer&) = delete;
  TSimTimer& operator=(const TSimTimer&) = delete;

  void Schedule(uint32_t ADelayMs, std::function<void()> ATask);
  // Returns once the task running now, if any, has finished (never call it
  // from a task).
  void Drain();

 private:
  struct TState;
  static void Run(const std::shared_ptr<TState>& AState);
  std::shared_ptr<TState> FState;
  std::thread FThread;
};

}  // namespace sim
