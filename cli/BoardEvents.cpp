#include "BoardEvents.h"

#include <algorithm>

void TBoardEvents::Progress(const update::TUpdateProgress& AProgress) {
  using update::TUpdateStage;
  if (FJson) FJson->Progress(FPort, AProgress);
  const int step = update::StepOf(AProgress.Stage);
  if (step != FStep) {
    FStep = step;
    Log(0, mtDebug, update::StepText(step), clBlack);
    FView.Step(FPort, update::StepText(step));
  }
  if (AProgress.Total == 0) return;
  if (AProgress.Stage == TUpdateStage::Wait) {
    const uint64_t left = AProgress.Total - std::min(AProgress.Done, AProgress.Total);
    FView.Waiting(FPort, (left + 999) / 1000);
  } else {
    FView.Amount(FPort, update::StageName(AProgress.Stage), AProgress.Done, AProgress.Total);
  }
}
