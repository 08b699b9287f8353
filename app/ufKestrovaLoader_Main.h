// The main window: guide page, settings page with the update button, the
// update progress panel, Exit. Owns the HID device controller and is the one
// path by which every log message reaches the service log window.
#pragma once

#include <QString>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <thread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "JvHidControllerClass.h"
#include "LogUtils.h"
#include "UpdateTiming.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class TThreadRunner;
class TWindowUpdateEvents;
namespace update {
class TUpdateEngine;
}

class TfKestrovaLoader_Main : public QWidget {
  Q_OBJECT

 public:
  explicit TfKestrovaLoader_Main(QWidget* AParent = nullptr);
  ~TfKestrovaLoader_Main() override;

  // Life-cycle handlers.
  void FormCreate();
  void FormShow();
  void FormDestroy();

  // Callable from any thread; the caller waits until the main thread ran them.
  void LogMsg(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor);
  void EnDisSettingsComponents(bool AStatus);
  void BslFlashingFileBrogress(int ALinesCount, int AActualLine, const std::string& AMsgText);

  void btnExitClick();
  void imgHeaderDblClick();

  // Device detection.
  void HidCtl1Arrival(TJvHidDevice* HidDev);
  void HidCtl1Removal(TJvHidDevice* HidDev);
  bool HidCtl1Enumerate(TJvHidDevice* HidDev, int Idx);

  // Settings file.
  void LoadConfiguration();
  void SaveConfiguration();

  // Firmware update: the button starts a worker that runs the update
  // engine (update/) and shows what it reports.
  void btnSaveClick();
  struct TUpdateJob;
  static void FlashThread(TThreadRunner* Tr, const std::shared_ptr<TUpdateJob>& AJob);

  // Timing of the wait for the board's return; tests replace the clock and
  // the sleep so that a board that never comes back costs no real minute.
  // Each update takes a copy when it starts.
  using TUpdateTiming = update::TUpdateTiming;
  TUpdateTiming fTiming;

  // The worker of a running update, or null. Written on the main thread at
  // start, cleared by the worker as its last step.
  TThreadRunner* RunningUpdate() const { return fTR.load(); }

  // The Ctrl key's state when the Exit confirmation was answered; tests
  // replace it.
  std::function<bool()> fIsCtrlDown;

  // Controls.
  QWidget* pnlHeader = nullptr;
  QLabel* imgHeader = nullptr;
  QWidget* pnlBottom = nullptr;
  QPushButton* btnExit = nullptr;
  QWidget* pnlMainImage = nullptr;
  QLabel* lblProggressMessage = nullptr;
  QStackedWidget* pgc1 = nullptr;
  QWidget* ts1 = nullptr;
  QLabel* imgGuide = nullptr;
  QWidget* ts2 = nullptr;
  QGroupBox* grpSettings = nullptr;
  QLabel* lblAPN = nullptr;
  QLabel* lblLogin = nullptr;
  QLabel* lblPassword = nullptr;
  QLineEdit* edtApn = nullptr;
  QLineEdit* edtLogin = nullptr;
  QLineEdit* edtPassword = nullptr;
  QPushButton* btnSave = nullptr;
  QWidget* pnlMainUpdate = nullptr;
  QLabel* lblStatusStep1 = nullptr;
  QLabel* lblStatusStep2 = nullptr;
  QLabel* lblStatusStep3 = nullptr;
  QProgressBar* pb2 = nullptr;

  // Shared with a running update, which may outlive the window.
  std::shared_ptr<TJvHidDeviceController> HidCtl1;

 protected:
  void showEvent(QShowEvent* AEvent) override;
  void closeEvent(QCloseEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  friend class TMainWindowProbe;  // tests
  friend class TWindowUpdateEvents;
  void BuildControls();
  void BuildHeader();
  void BuildBottom();
  void BuildPages();
  void BuildSettingsPage();
  void BuildUpdatePanel();

  // A-F as the update goes; Verify: step 3 written but not correct.
  enum class TUiStep { A, B, C, D, E, F, Verify };
  void UiStep(TUiStep AStep);
  void SetStepColors(TColor AStep1, TColor AStep2, TColor AStep3);
  void ShowMessage(const QString& AText);
  void AbandonUpdate();

  std::atomic<TThreadRunner*> fTR{nullptr};
  QString file_loader;
  QString file_fw;
  // The running update, to cancel it and cut it off from the window when
  // the window goes; the worker holds the strong references.
  std::weak_ptr<update::TUpdateEngine> fUpdate;
  std::shared_ptr<TWindowUpdateEvents> fUpdateEvents;
  // The texts as the settings file holds them (the defaults when it holds
  // none): a field the technician has not edited is saved back with its
  // whole stored text, also one longer than the field takes.
  QString fStoredTexts[3];
  // Lines about the settings file, logged once the log window exists.
  std::vector<std::string> fSettingsNotes;
};

// The main window, for the free functions that need it (FindMyDevice).
extern TfKestrovaLoader_Main* fKestrovaLoader_Main;

// The controller's check-out predicate for the board under its loader.
bool FindMyDevice(TJvHidDevice* AHidDev);
