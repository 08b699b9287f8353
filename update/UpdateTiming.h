// The clock and the sleep of an update. Tests replace them so that a board
// that never comes back costs no real minute.
#pragma once

#include <chrono>
#include <functional>

#include "Pause.h"

namespace update {

struct TUpdateTiming {
  std::function<std::chrono::steady_clock::time_point()> Now = [] {
    return std::chrono::steady_clock::now();
  };
  std::function<void(std::chrono::milliseconds)> Sleep = [](std::chrono::milliseconds d) {
    pacing::Pause(d);
  };
};

}  // namespace update
