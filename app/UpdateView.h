// What the window's side of the update needs of the window: log lines,
// progress, the step indicators, the lock of the settings controls and
// message boxes. The update calls them on the main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "LogUtils.h"

// The step indicators as the update goes, A to F; Verify: step 3 was
// written but is not correct.
enum class TUiStep { A, B, C, D, E, F, Verify };

class IUpdateView {
 public:
  virtual ~IUpdateView() = default;
  virtual void LogMsg(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor) = 0;
  virtual void BslFlashingFileBrogress(int ALinesCount, int AActualLine, const std::string& AMsgText) = 0;
  virtual void UiStep(TUiStep AStep) = 0;
  // AStatus false locks the settings controls, true unlocks them.
  virtual void EnDisSettingsComponents(bool AStatus) = 0;
  // A modal message box, ADetail (when given) beneath its text; returns
  // when it was closed.
  virtual void ShowMessage(const std::string& AText, const std::string& ADetail = {}) = 0;
};
