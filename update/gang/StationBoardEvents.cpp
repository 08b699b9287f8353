#include "StationBoardEvents.h"

#include "BoardPorts.h"

namespace {
constexpr auto kProgressEvery = std::chrono::milliseconds(100);
}  // namespace

void TStationBoardEvents::Log(int32_t, TMessageType, const std::string& AMessage, TColor AColor) {
  if (FLog) FLog->Write("[" + update::PortText(FPort) + "] " + AMessage);
  FFront.LogLine(FPort, AMessage, AColor);
}

void TStationBoardEvents::Progress(const update::TUpdateProgress& AProgress) {
  const int step = update::StepOf(AProgress.Stage);
  const int percent = AProgress.Total > 0 ? static_cast<int>(AProgress.Done * 100 / AProgress.Total) : 0;
  const auto now = std::chrono::steady_clock::now();
  const bool last = AProgress.Total > 0 && AProgress.Done >= AProgress.Total;
  if (step == FStep && (percent == FPercent || (now - FShown < kProgressEvery && !last))) return;
  FStep = step;
  FPercent = percent;
  FShown = now;
  FFront.Progress(FPort, update::StepText(step), percent);
}
