// The main window: guide page, settings page with the update button, the
// update progress panel, Exit. Owns the HID device controller and is the one
// path by which every log message reaches the service log window.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "JvHidControllerClass.h"
#include "LogUtils.h"
#include "UpdatePanel.h"
#include "UpdateWorkflow.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class TThreadRunner;
struct TDeviceLine;

class TfKestrovaLoader_Main : public QWidget {
  Q_OBJECT

 public:
  // APlatform: the HID services (null: the operating system's).
  explicit TfKestrovaLoader_Main(hid::IHidPlatform* APlatform = nullptr, QWidget* AParent = nullptr);
  ~TfKestrovaLoader_Main() override;

  // Life-cycle handlers.
  void FormCreate();
  void FormShow();
  void FormDestroy();

  // Callable from any thread; the caller waits until the main thread ran them.
  void LogMsg(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor);
  void EnDisSettingsComponents(bool AStatus);

  void btnExitClick();
  void imgHeaderDblClick();

  // Device detection.
  void HidCtl1Arrival(TJvHidDevice* HidDev);
  void HidCtl1Removal(TJvHidDevice* HidDev);
  bool HidCtl1Enumerate(TJvHidDevice* HidDev, int Idx);
  // A device that a pass left out (it could not be opened or identified).
  void HidCtl1DeviceSkipped(const TJvHidPnPInfo& AInfo, const std::string& AReason);

  // Settings file.
  void LoadConfiguration();
  void SaveConfiguration();

  // Firmware update: the button hands the texts as they stand to the
  // window's side of the update, which shows what it reports on the
  // update panel.
  void btnSaveClick();
  TUpdateWorkflow& Workflow() { return *fWorkflow; }
  // The worker of a running update, or null.
  TThreadRunner* RunningUpdate() const { return fWorkflow->Running(); }

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
  TUpdatePanel* pnlMainUpdate = nullptr;

  // Shared with a running update, which may outlive the window.
  std::shared_ptr<TJvHidDeviceController> HidCtl1;

 protected:
  void showEvent(QShowEvent* AEvent) override;
  void closeEvent(QCloseEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void BuildControls();
  void BuildHeader();
  void BuildBottom();
  void BuildPages();
  void BuildSettingsPage();
  void LogLines(const std::vector<TDeviceLine>& ALines);

  std::unique_ptr<TUpdateWorkflow> fWorkflow;
  // The texts as the settings file holds them (the defaults when it holds
  // none): a field the technician has not edited is saved back with its
  // whole stored text, also one longer than the field takes.
  QString fStoredTexts[3];
  // Lines about the settings file, logged once the log window exists.
  std::vector<std::string> fSettingsNotes;
};

// The main window, set by start-up.
extern TfKestrovaLoader_Main* fKestrovaLoader_Main;
