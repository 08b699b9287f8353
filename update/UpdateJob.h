// One update as a job: the engine on a worker thread, with its cancel, its
// events and its outcome. The job starts a thread of its own, or runs on a
// thread the caller made (the window's named runner); either way the
// caller hears of the end through AOnEnd, on the worker, and reads the
// outcome once Ended() says so.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "UpdateEngine.h"

namespace update {

class TUpdateJob {
 public:
  TUpdateJob(std::shared_ptr<TBoardPorts> APorts, std::shared_ptr<IUpdateEvents> AEvents, TUpdateOptions AOptions,
             std::function<void()> AOnEnd = {});
  // Waits for a thread of the job's own.
  ~TUpdateJob();
  TUpdateJob(const TUpdateJob&) = delete;
  TUpdateJob& operator=(const TUpdateJob&) = delete;

  // Runs the update on a thread of its own.
  void Start();
  // Runs the update on the calling thread.
  void Run();
  // Any thread: the update stops at its next pause.
  void Cancel() { FEngine.Cancel(); }
  bool Ended() const { return FEnded.load(); }
  // How it ended; valid once Ended().
  TUpdateOutcome Outcome() const;
  const TUpdateOptions& Options() const { return FEngine.Options(); }

 private:
  TUpdateEngine FEngine;
  std::function<void()> FOnEnd;
  mutable std::mutex FLock;
  TUpdateOutcome FOutcome;
  std::atomic<bool> FEnded{false};
  std::thread FThread;
};

}  // namespace update
