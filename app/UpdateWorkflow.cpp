// The update button and the window's side of the two-stage firmware update:
// the worker runs the update engine, and everything the engine reports
// becomes a UI step, a log line or a message box on the main thread.
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <memory>

#include "MainThread.h"
#include "Orvik.ThreadRunner.h"
#include "QtPath.h"
#include "StationFiles.h"
#include "SystemColors.h"
#include "UpdateEngine.h"
#include "ufKestrovaLoader_Main.h"

namespace {

constexpr TColor kStepGrey = clGrayText;

}  // namespace

// Hands what the engine reports to the window, on the main thread. The
// worker may outlive the window: the window cuts the link when it goes,
// and from then on everything is dropped. FWindow is read and written on
// the main thread only.
class TWindowUpdateEvents final : public update::IUpdateEvents {
 public:
  explicit TWindowUpdateEvents(TfKestrovaLoader_Main* AWindow) : FWindow(AWindow) {}

  void Detach() { FWindow = nullptr; }

  void Log(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor) override {
    OnWindow([&](TfKestrovaLoader_Main& w) { w.LogMsg(AID, AType, AMessage, AColor); });
  }
  void Progress(int ALinesCount, int AActualLine, const std::string& AMsg) override {
    OnWindow([&](TfKestrovaLoader_Main& w) { w.BslFlashingFileBrogress(ALinesCount, AActualLine, AMsg); });
  }
  void Step(update::TUpdateStep AStep) override {
    using S = update::TUpdateStep;
    using U = TfKestrovaLoader_Main::TUiStep;
    const U step = AStep == S::Started         ? U::A
                   : AStep == S::LoaderWritten ? U::B
                   : AStep == S::BoardBack     ? U::C
                   : AStep == S::FirmwareWritten ? U::D
                   : AStep == S::LoaderFailed  ? U::E
                                               : U::Verify;
    OnWindow([&](TfKestrovaLoader_Main& w) { w.UiStep(step); });
  }
  void Message(update::TUpdateMessage, const std::string& AText) override {
    OnWindow([&](TfKestrovaLoader_Main& w) { w.ShowMessage(QString::fromStdString(AText)); });
  }

  // Steps 2 and 19 to 21 of the worker. None of them may keep the others
  // from running.
  void Lock(bool ALocked) {
    Guarded([&](TfKestrovaLoader_Main& w) { w.EnDisSettingsComponents(!ALocked); });
  }
  void Finish(std::shared_ptr<update::TUpdateEngine>& AEngine) {
    Guarded([&](TfKestrovaLoader_Main& w) { w.UiStep(TfKestrovaLoader_Main::TUiStep::F); });
    // The engine's last reference goes on the main thread: the controller
    // it may hold last belongs there.
    RunOnMainThread([&] {
      AEngine.reset();
      if (FWindow != nullptr) FWindow->fTR.store(nullptr);
    });
  }

 private:
  template <class F>
  void OnWindow(const F& ABody) {
    RunOnMainThread([&] {
      if (FWindow != nullptr) ABody(*FWindow);
    });
  }
  template <class F>
  void Guarded(const F& ABody) {
    try {
      OnWindow(ABody);
    } catch (...) {
    }
  }

  TfKestrovaLoader_Main* FWindow;
};

// What one worker holds: it outlives the window if need be.
struct TfKestrovaLoader_Main::TUpdateJob {
  std::shared_ptr<update::TUpdateEngine> Engine;
  std::shared_ptr<TWindowUpdateEvents> Events;
};

void TfKestrovaLoader_Main::btnSaveClick() {
  if (fTR.load() != nullptr) return;  // one update at a time
  file_loader = QtPath(station::LoaderImage());
  file_fw = QtPath(station::FirmwareImage());
  if (!QFileInfo::exists(file_loader)) {
    ShowMessage("FW (loader) file \"" + file_loader + "\" not found !");
    return;
  }
  if (!QFileInfo::exists(file_fw)) {
    ShowMessage("FW (application) file \"" + file_fw + "\" not found !");
    return;
  }
  update::TUpdateOptions options;
  options.LoaderFile = file_loader.toStdString();
  options.FirmwareFile = file_fw.toStdString();
  // The texts as they stand now; the worker never reads the entry fields.
  options.Settings = {edtApn->text().toStdU16String(), edtLogin->text().toStdU16String(),
                      edtPassword->text().toStdU16String()};
  options.Timing = fTiming;
  auto job = std::make_shared<TUpdateJob>();
  job->Events = std::make_shared<TWindowUpdateEvents>(this);
  job->Engine = std::make_shared<update::TUpdateEngine>(HidCtl1, job->Events, std::move(options));
  fUpdate = job->Engine;
  fUpdateEvents = job->Events;
  auto* runner = new TThreadRunner([job](TThreadRunner* Tr) { FlashThread(Tr, job); }, "Flash thread");
  fTR.store(runner);
  runner->Start();
}

void TfKestrovaLoader_Main::FlashThread(TThreadRunner* Tr, const std::shared_ptr<TUpdateJob>& AJob) {
  Tr->FreeOnTerminate = true;
  AJob->Events->Lock(true);
  AJob->Engine->Run();  // logs Start, every step, any error, and End
  AJob->Events->Lock(false);
  AJob->Events->Finish(AJob->Engine);
}

// Main thread, when the window goes while an update runs.
void TfKestrovaLoader_Main::AbandonUpdate() {
  if (auto engine = fUpdate.lock()) engine->Cancel();
  if (fUpdateEvents) fUpdateEvents->Detach();
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
        SetStepColors(clGreen, clGreen, clGreen);
        break;
      case TUiStep::E:
        SetStepColors(clRed, kStepGrey, kStepGrey);
        pnlMainUpdate->show();
        break;
      case TUiStep::F:
        pgc1->setCurrentWidget(ts1);
        pnlMainUpdate->hide();
        break;
      case TUiStep::Verify:
        SetStepColors(clGreen, clGreen, clRed);
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
