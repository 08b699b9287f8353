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

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class TBsl;
class TThreadRunner;

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

  // Firmware update.
  void btnSaveClick();
  void FlashThread(TThreadRunner* Tr);
  void SetBeforeStart(TBsl* ABsl);
  bool SaveTextToDev(TBsl* ABsl, const QString& AText, int AMaxLength, int AAddress);

  // Timing of the wait for the board's return; tests replace the clock and
  // the sleep so that a board that never comes back costs no real minute.
  struct TUpdateTiming {
    std::function<std::chrono::steady_clock::time_point()> Now = [] {
      return std::chrono::steady_clock::now();
    };
    std::function<void(std::chrono::milliseconds)> Sleep = [](std::chrono::milliseconds d) {
      std::this_thread::sleep_for(d);
    };
  };
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

  std::unique_ptr<TJvHidDeviceController> HidCtl1;

 protected:
  void showEvent(QShowEvent* AEvent) override;
  void closeEvent(QCloseEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  friend class TMainWindowProbe;  // tests
  void BuildControls();
  void BuildHeader();
  void BuildBottom();
  void BuildPages();
  void BuildSettingsPage();
  void BuildUpdatePanel();

  enum class TUiStep { A, B, C, D, E, F };
  void UiStep(TUiStep AStep);
  void SetStepColors(TColor AStep1, TColor AStep2, TColor AStep3);
  void ShowMessage(const QString& AText);
  bool WaitForBoardAndFlash(TBsl& ABsl, TJvHidDevice*& ADev);

  std::atomic<TThreadRunner*> fTR{nullptr};
  QString file_loader;
  QString file_fw;
  // The three settings texts as they stood when the update was started;
  // the worker reads this copy, never the entry fields.
  QString fSettingsCopy[3];
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
