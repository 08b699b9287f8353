// An event loop for programs without a toolkit (the command-line flasher):
// work posted from any thread, readable descriptors (Linux device
// notifications) and the thread's window messages (Windows device
// notifications) all run on the thread that calls RunFor. Installs itself
// as the HID layer's loop for its lifetime.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "HidPlatform.h"

namespace hid {

class TPlainEventLoop : public IHidEventLoop {
 public:
  TPlainEventLoop();
  ~TPlainEventLoop() override;
  TPlainEventLoop(const TPlainEventLoop&) = delete;
  TPlainEventLoop& operator=(const TPlainEventLoop&) = delete;

  void Post(std::function<void()> AFn) override;
  void* WatchReadable(int AFd, std::function<void()> AFn) override;
  void Unwatch(void* AWatch) override;

  // Runs whatever is due for up to ATimeoutMs: returns once something ran,
  // after Wake(), or when the time is up. Errors that escape posted work go
  // to the HID layer's unhandled-error report.
  void RunFor(uint32_t ATimeoutMs);
  // Runs posted work until none is left, without waiting.
  void RunPending();
  // Any thread: makes a RunFor that waits return now.
  void Wake();

  struct TWatch {
    int Fd;
    std::function<void()> Fn;
  };

 private:
  // Waits on the platform for a watched descriptor, a message or a wake-up
  // and runs what became ready (one file per backend).
  void WaitAndDispatch(uint32_t ATimeoutMs);
  void Guarded(const std::function<void()>& AFn);
  bool HasPosted();

  struct TWaiter;  // the backend's wake-up primitive
  std::unique_ptr<TWaiter> FWaiter;
  std::mutex FLock;
  std::deque<std::function<void()>> FPosted;
  std::list<TWatch> FWatches;
};

}  // namespace hid
