// The update panel of the settings page: the three steps in their colours
// and the progress bar of the image being written, shown while an update
// runs. It is the window's view of the update: what the worker reports
// arrives here on the main thread, and what belongs to the rest of the
// window (log lines, the settings controls, the guide page) goes to the
// functions the window hands in.
#pragma once

#include <QWidget>
#include <functional>

#include "UpdateView.h"

class QLabel;
class QProgressBar;

class TUpdatePanel : public QWidget, public IUpdateView {
  Q_OBJECT

 public:
  TUpdatePanel(QWidget* AParent, TLogMsg ALog, std::function<void(bool)> AEnableSettings,
               std::function<void()> AShowGuide);

  void ShowLine(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor) override;
  void ShowProgress(const update::TUpdateProgress& AProgress) override;
  void ShowEnd(const update::TUpdateOutcome& AOutcome) override;
  void EnableSettings(bool AStatus) override { FEnableSettings(AStatus); }
  void Finish() override;
  void ShowMessage(const std::string& AText, const std::string& ADetail = {}) override;
  bool Ask(const std::string& AText, const std::string& ADetail, const std::string& AYes,
           const std::string& ANo) override;

  QLabel* lblStatusStep1 = nullptr;
  QLabel* lblStatusStep2 = nullptr;
  QLabel* lblStatusStep3 = nullptr;
  QProgressBar* pb2 = nullptr;

 private:
  void SetStepColors(TColor AStep1, TColor AStep2, TColor AStep3);

  TLogMsg FLog;
  std::function<void(bool)> FEnableSettings;
  std::function<void()> FShowGuide;
  int FStep = 0;  // the step shown, 0 before the update's first
};
