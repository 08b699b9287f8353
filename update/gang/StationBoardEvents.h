// A station's side of one board's update: its lines go to the station's
// daily log, prefixed by the port, and to the front with its steps, a few
// times a second at most.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "LogFile.h"
#include "StationRun.h"
#include "UpdateEngine.h"

class TStationBoardEvents : public update::IUpdateEvents {
 public:
  TStationBoardEvents(std::string APort, IStationFront& AFront, std::shared_ptr<TLogFile> ALog)
      : FPort(std::move(APort)), FFront(AFront), FLog(std::move(ALog)) {}

  void Log(int32_t, TMessageType, const std::string& AMessage, TColor AColor) override;
  void Progress(const update::TUpdateProgress& AProgress) override;
  void Ended(const update::TUpdateOutcome&) override {}

 private:
  const std::string FPort;
  IStationFront& FFront;
  const std::shared_ptr<TLogFile> FLog;
  int FStep = 0;
  int FPercent = -1;
  std::chrono::steady_clock::time_point FShown{};
};
