// The clock and the sleep of an update. Tests replace them so that a board
// that never comes back costs no real minute.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace update {

struct TUpdateTiming {
  std::function<std::chrono::steady_clock::time_point()> Now = [] {
    return std::chrono::steady_clock::now();
  };
  std::function<void(std::chrono::milliseconds)> Sleep = [](std::chrono::milliseconds d) {
    std::this_thread::sleep_for(d);
  };
};

}  // namespace update
