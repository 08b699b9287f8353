// The two-stage firmware update: unlock the resident loader, write the RAM
// loader and start it, wait for the board to come back under it, write the
// application image (the settings block goes in at its "SET" line).
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <memory>

#include "AppFolder.h"
#include "DeviceOpenError.h"
#include "MainThread.h"
#include "Orvik.ThreadRunner.h"
#include "SystemColors.h"
#include "bsl_hid.h"
#include "ufKestrovaLoader_Main.h"

namespace {

using namespace std::chrono_literals;

// Does not match a board that holds firmware, so its resident loader
// erases the board.
constexpr TBsl_PasswordData BSL_Default_Password_erase = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00};
// The vector table of an erased board.
constexpr TBsl_PasswordData BSL_Default_Password = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

constexpr auto kAfterPassword = 100ms;     // lets the loader finish the erase
constexpr auto kPollInterval = 500ms;      // between attempts to find the board again
constexpr auto kWaitForBoard = 60000ms;    // the board restarts within seconds

const char* const kLoaderFile = "kestrova.1.ldr.txt";
const char* const kFirmwareFile = "kestrova.2.fw.txt";
const char* const kSuccess = "Firmware & Settings were sucesfully uploaded!";
const char* const kLoaderFailure = "Bootloader upload failure!";

constexpr TColor kStepGrey = clGrayText;

}  // namespace

void TfKestrovaLoader_Main::btnSaveClick() {
  if (fTR.load() != nullptr) return;  // one update at a time
  const QString folder = AppFolder();
  file_loader = folder + kLoaderFile;
  file_fw = folder + kFirmwareFile;
  if (!QFileInfo::exists(file_loader)) {
    ShowMessage("FW (loader) file \"" + file_loader + "\" not found !");
    return;
  }
  if (!QFileInfo::exists(file_fw)) {
    ShowMessage("FW (application) file \"" + file_fw + "\" not found !");
    return;
  }
  fSettingsCopy[0] = edtApn->text();
  fSettingsCopy[1] = edtLogin->text();
  fSettingsCopy[2] = edtPassword->text();
  auto* runner = new TThreadRunner([this](TThreadRunner* Tr) { FlashThread(Tr); }, "Flash thread");
  fTR.store(runner);
  runner->Start();
}

void TfKestrovaLoader_Main::FlashThread(TThreadRunner* Tr) {
  Tr->FreeOnTerminate = true;
  EnDisSettingsComponents(false);
  std::unique_ptr<TBsl> bsl;
  TJvHidDevice* dev = nullptr;
  try {
    LogMsg(0, mtDebug, "Flash thread - Start", clBlack);
    UiStep(TUiStep::A);
    if (HidCtl1->CheckOutByCallback(dev, FindMyDevice) && BoardUsable(dev)) {
      bsl = std::make_unique<TBsl>();
      bsl->SetOnLogMsg([this](int32_t i, TMessageType t, const std::string& m, TColor c) { LogMsg(i, t, m, c); });
      bsl->SetHidDev(dev);
      bsl->SetOnSet([this](TBsl* b) { SetBeforeStart(b); });
      bsl->SetOnProgress([this](int n, int i, const std::string& m) { BslFlashingFileBrogress(n, i, m); });

      bsl->cmd_SendPassword(BSL_Default_Password_erase);
      fTiming.Sleep(kAfterPassword);
      bool ok = bsl->cmd_SendPassword(BSL_Default_Password);
      fTiming.Sleep(kAfterPassword);
      if (ok) ok = bsl->FlashFile(file_loader.toStdString());
      if (!ok) {
        UiStep(TUiStep::E);
      } else {
        UiStep(TUiStep::B);
        dev = bsl->HidDev();
        HidCtl1->CheckIn(dev);
        bsl->SetHidDev(nullptr);
        if (WaitForBoardAndFlash(*bsl, dev)) bsl.reset();
      }
    }
  } catch (const std::exception& e) {
    LogMsg(0, mtDebug, std::string("Flash thread - Exception: ") + e.what(), clRed);
  }
  bsl.reset();
  if (dev != nullptr) HidCtl1->CheckIn(dev);
  LogMsg(0, mtDebug, "Flash thread - End", clBlack);
  EnDisSettingsComponents(true);
  UiStep(TUiStep::F);
  fTR.store(nullptr);
}

// A board that is listed but cannot be opened for reading and writing (no
// permission, used by another program, gone) is not talked to: the
// technician learns where it is, why it failed and what to do.
bool TfKestrovaLoader_Main::BoardUsable(TJvHidDevice* ADev) {
  if (ADev->OpenReadWrite()) return true;
  const std::string text = DeviceOpenErrorText(ADev->LastError());
  LogMsg(0, mtDebug, text, clRed);
  RunOnMainThread([&] { ShowMessage(QString::fromStdString(text)); });
  return false;
}

// Stage 2: polls for the board under its new loader and writes the
// application image. True when the image was written to its end line (the
// success message has then been shown).
bool TfKestrovaLoader_Main::WaitForBoardAndFlash(TBsl& ABsl, TJvHidDevice*& ADev) {
  const auto timeout = fTiming.Now() + kWaitForBoard;
  while (fTiming.Now() < timeout) {
    fTiming.Sleep(kPollInterval);
    if (!HidCtl1->CheckOutByCallback(ADev, FindMyDevice)) continue;
    if (!ADev->OpenFile()) {
      HidCtl1->CheckIn(ADev);
      continue;
    }
    UiStep(TUiStep::C);
    ABsl.SetHidDev(ADev);
    ABsl.SetOnSet([this](TBsl* b) { SetBeforeStart(b); });
    if (!ABsl.FlashFile(file_fw.toStdString())) return false;
    UiStep(TUiStep::D);
    return true;
  }
  return false;
}

void TfKestrovaLoader_Main::UiStep(TUiStep AStep) {
  RunOnMainThread([&] {
    switch (AStep) {
      case TUiStep::A:
        SetStepColors(clBlue, kStepGrey, kStepGrey);
        pnlMainUpdate->show();
        break;
      case TUiStep::B:
        SetStepColors(clGreen, clBlue, kStepGrey);
        break;
      case TUiStep::C:
        SetStepColors(clGreen, clGreen, clBlue);
        break;
      case TUiStep::D:
        LogMsg(0, mtDebug, kSuccess, clGreen);
        SetStepColors(clGreen, clGreen, clGreen);
        ShowMessage(kSuccess);
        break;
      case TUiStep::E:
        SetStepColors(clRed, kStepGrey, kStepGrey);
        pnlMainUpdate->show();
        ShowMessage(kLoaderFailure);
        break;
      case TUiStep::F:
        pgc1->setCurrentWidget(ts1);
        pnlMainUpdate->hide();
        break;
    }
  });
}

void TfKestrovaLoader_Main::SetStepColors(TColor AStep1, TColor AStep2, TColor AStep3) {
  const std::pair<QLabel*, TColor> steps[] = {
      {lblStatusStep1, AStep1}, {lblStatusStep2, AStep2}, {lblStatusStep3, AStep3}};
  for (const auto& [label, color] : steps) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ToQColor(color));
    label->setPalette(palette);
  }
}

void TfKestrovaLoader_Main::ShowMessage(const QString& AText) {
  QMessageBox box(QMessageBox::NoIcon, windowTitle(), AText, QMessageBox::Ok, this);
  box.exec();
}
