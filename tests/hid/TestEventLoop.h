// A hand-driven event loop for tests: posted work and readable descriptors
// run only when the test pumps the loop, on the test's thread. Errors that
// escape a callback are recorded, as the application's loop reports them.
#pragma once

#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "HidPlatform.h"


class TTestEventLoop : public hid::IHidEventLoop {
 public:
  TTestEventLoop() { hid::SetEventLoop(this); }
  ~TTestEventLoop() override { hid::SetEventLoop(nullptr); }

  void Post(std::function<void()> AFn) override {
    std::lock_guard<std::mutex> LGuard(FLock);
    FPosted.push_back(std::move(AFn));
  }

  void* WatchReadable(int AFd, std::function<void()> AFn) override {
    FWatches.push_back({AFd, std::move(AFn)});
    return &FWatches.back();
  }

  void Unwatch(void* AWatch) override {
    FWatches.remove_if([AWatch](const TWatch& W) { return &W == AWatch; });
  }

  // Runs posted work until none is left; returns how much ran.
  int RunPending() {
    int LRan = 0;
    for (;;) {
      std::function<void()> LFn;
      {
        std::lock_guard<std::mutex> LGuard(FLock);
        if (FPosted.empty()) return LRan;
        LFn = std::move(FPosted.front());
        FPosted.pop_front();
      }
      Guarded(LFn);
      ++LRan;
    }
  }

  size_t PendingCount() {
    std::lock_guard<std::mutex> LGuard(FLock);
    return FPosted.size();
  }


  std::vector<std::string> Errors;

 protected:
  struct TWatch {
    int Fd;
    std::function<void()> Fn;
  };

  void Guarded(const std::function<void()>& AFn) {
    try {
      AFn();
    } catch (const std::exception& E) {
      Errors.push_back(E.what());
    }
  }

  std::list<TWatch> FWatches;

 private:
  std::mutex FLock;
  std::deque<std::function<void()>> FPosted;
};
