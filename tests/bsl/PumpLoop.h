// An event loop driven by hand: posted work (the bus's arrivals and
// removals) runs only when the owner pumps it, on the owner's thread.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "HidPlatform.h"

class TPumpLoop : public hid::IHidEventLoop {
 public:
  void Post(std::function<void()> AFn) override {
    std::lock_guard<std::mutex> guard(FLock);
    FWork.push_back(std::move(AFn));
  }
  void* WatchReadable(int, std::function<void()>) override { return nullptr; }
  void Unwatch(void*) override {}
  void Pump() {
    for (;;) {
      std::function<void()> work;
      {
        std::lock_guard<std::mutex> guard(FLock);
        if (FWork.empty()) return;
        work = std::move(FWork.front());
        FWork.pop_front();
      }
      work();
    }
  }

 private:
  std::mutex FLock;
  std::deque<std::function<void()>> FWork;
};

