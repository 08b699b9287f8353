// The hand on the cables of a simulated session while a program runs: a
// thread of its own takes the lines written to the control (a file or a
// named pipe, SimControlSource.h) and hands each whole line on. Ends, and
// waits for its thread, when destroyed.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "SimControlSource.h"

namespace sim {

class TSimControl {
 public:
  using TOnLine = std::function<void(const std::string& ALine)>;
  TSimControl(std::unique_ptr<IControlSource> ASource, TOnLine AOnLine);
  ~TSimControl();
  TSimControl(const TSimControl&) = delete;
  TSimControl& operator=(const TSimControl&) = delete;

 private:
  void Run();
  void Feed(const std::string& AText);

  std::unique_ptr<IControlSource> FSource;
  TOnLine FOnLine;
  std::string FPartial;  // a line whose end has not come yet
  std::atomic<bool> FStop{false};
  std::thread FThread;  // last: started once the rest is there
};

}  // namespace sim
