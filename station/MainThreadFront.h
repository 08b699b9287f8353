// The station's front as its thread sees it: every call is copied and
// queued to the main thread, where the window's own front presents it. The
// station's thread never waits for the window, so the window can stop and
// join it at any time; calls still queued when the window goes are dropped
// with it.
#pragma once

#include "StationRun.h"

class QObject;

class TMainThreadFront : public IStationFront {
 public:
  // AContext: an object of the main thread that outlives the station's
  // thread (the window); ATarget: what presents the calls there.
  TMainThreadFront(QObject& AContext, IStationFront& ATarget);

  void Header(const TStationHeader& AHeader) override;
  void Bus(const std::vector<std::string>& AUnlisted, bool APortsUnknown) override;
  void Refused(const std::string& AText) override;
  void Arrived(const std::string& APort) override;
  void WaitsForSerial(const std::string& APort) override;
  void Started(const std::string& APort, const std::string& ASerial) override;
  void Progress(const std::string& APort, const std::string& AStep, int APercent) override;
  void LogLine(const std::string& APort, const std::string& AText, TColor AColor) override;
  void Ended(const std::string& APort, const TTileResult& AResult, const TShiftTotals& ATotals) override;
  void Said(const std::string& AText) override;

 private:
  template <typename TCall>
  void Queue(TCall&& ACall);

  QObject& FContext;
  IStationFront& FTarget;
};
