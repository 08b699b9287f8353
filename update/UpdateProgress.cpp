#include "UpdateProgress.h"

namespace update {

const char* StageName(TUpdateStage AStage) {
  switch (AStage) {
    case TUpdateStage::Images: return "images";
    case TUpdateStage::Connect: return "connect";
    case TUpdateStage::Unlock: return "unlock";
    case TUpdateStage::Loader: return "loader";
    case TUpdateStage::Wait: return "wait";
    case TUpdateStage::Identify: return "identify";
    case TUpdateStage::Firmware: return "firmware";
    case TUpdateStage::Verify: return "verify";
    case TUpdateStage::Done: return "done";
  }
  return "?";
}

int StepOf(TUpdateStage AStage) {
  if (AStage == TUpdateStage::Wait) return 2;
  return AStage < TUpdateStage::Wait ? 1 : 3;
}

const char* StepText(int AStep) {
  static const char* const kSteps[] = {"1. Upload bootloader", "2. Wait for device",
                                       "3. Upload new firmware & settings"};
  return AStep >= 1 && AStep <= 3 ? kSteps[AStep - 1] : "";
}

}  // namespace update
