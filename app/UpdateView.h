// What the window's side of the update needs shown, on the main thread
// only: the update's log lines, its steps and progress, how it ended, the
// lock of the settings controls, message boxes and a question.
#pragma once

#include <cstdint>
#include <string>

#include "LogUtils.h"
#include "UpdateOutcome.h"
#include "UpdateProgress.h"

class IUpdateView {
 public:
  virtual ~IUpdateView() = default;
  virtual void ShowLine(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor) = 0;
  virtual void ShowProgress(const update::TUpdateProgress& AProgress) = 0;
  // The steps as it ended, the cause as a red line and in a box; returns
  // when the box was closed.
  virtual void ShowEnd(const update::TUpdateOutcome& AOutcome) = 0;
  // AStatus false locks the settings controls, true unlocks them.
  virtual void EnableSettings(bool AStatus) = 0;
  // The update is over: the guide page again, the steps hidden.
  virtual void Finish() = 0;
  // A modal message box, ADetail (when given) beneath its text; returns
  // when it was closed.
  virtual void ShowMessage(const std::string& AText, const std::string& ADetail = {}) = 0;
  // A modal question whose default is ANo: true when AYes was chosen.
  virtual bool Ask(const std::string& AText, const std::string& ADetail, const std::string& AYes,
                   const std::string& ANo) = 0;
};
