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

#ifndef _WIN32
#include <poll.h>
#endif

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

#ifndef _WIN32
  // Runs posted work and readable-descriptor callbacks for AMs, or until
  // AUntil returns true.
  void RunFor(int AMs, const std::function<bool()>& AUntil = nullptr) {
    const auto LEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
    while (std::chrono::steady_clock::now() < LEnd) {
      RunPending();
      if (AUntil && AUntil()) return;
      std::vector<pollfd> LPolls;
      for (const TWatch& LWatch : FWatches) LPolls.push_back({LWatch.Fd, POLLIN, 0});
      if (LPolls.empty() || ::poll(LPolls.data(), LPolls.size(), 10) <= 0) {
        if (LPolls.empty()) ::poll(nullptr, 0, 10);
        continue;
      }
      size_t LIdx = 0;
      std::vector<std::function<void()>> LReady;
      for (const TWatch& LWatch : FWatches)
        if (LPolls[LIdx++].revents & POLLIN) LReady.push_back(LWatch.Fn);
      for (auto& LFn : LReady) Guarded(LFn);
    }
  }
#endif

  std::vector<std::string> Errors;

 private:
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

  std::mutex FLock;
  std::deque<std::function<void()>> FPosted;
  std::list<TWatch> FWatches;
};
