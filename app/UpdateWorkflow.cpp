// The window's side of the two-stage firmware update: the worker runs the
// update engine, and everything the engine reports reaches the view on the
// main thread.
#include "UpdateWorkflow.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "MainThread.h"
#include "Orvik.ThreadRunner.h"
#include "StationFiles.h"
#include "UpdateCauseText.h"
#include "UpdateEngine.h"
#include "Utf8.h"

namespace {

TUiStep UiStepOf(update::TUpdateStep AStep) {
  using S = update::TUpdateStep;
  switch (AStep) {
    case S::Started: return TUiStep::A;
    case S::LoaderWritten: return TUiStep::B;
    case S::BoardBack: return TUiStep::C;
    case S::FirmwareWritten: return TUiStep::D;
    case S::LoaderFailed: return TUiStep::E;
    case S::VerifyFailed: return TUiStep::Verify;
  }
  return TUiStep::Verify;
}

const char* const kLoaderFailure = "Bootloader upload failure!";

// "what to do" as a sentence of its own.
std::string Sentence(std::string AText) {
  if (!AText.empty()) AText[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(AText[0])));
  return AText.empty() ? AText : AText + ".";
}

struct TBox {
  std::string Text;
  std::string Detail;  // beneath the text
};

// The message box for how an update ended.
TBox BoxFor(update::TUpdateMessage AKind, const update::TUpdateOutcome& AOutcome) {
  using M = update::TUpdateMessage;
  const update::TCauseWords words = update::CauseWords(AOutcome);
  switch (AKind) {
    case M::Success: return {update::kSuccessText, AOutcome.Verified ? "" : Sentence(words.What)};
    case M::LoaderFailure: return {kLoaderFailure, Sentence(words.What) + "\n" + Sentence(words.Todo)};
    case M::VerifyFailed: return {update::kNotCorrectText, Sentence(words.What)};  // the text says what to do
    case M::ImageRefused:
    case M::CannotOpen: return {words.What, ""};
    case M::SeveralBoards: return {Sentence(words.What), Sentence(words.Todo)};
    case M::Failed: break;
  }
  return {Sentence(words.What), Sentence(words.Todo)};
}

bool Exists(const std::string& APath) {
  std::error_code error;
  return std::filesystem::exists(Utf8ToPath(APath), error);
}

}  // namespace

// Hands what the engine reports to the view, on the main thread. The
// worker may outlive the workflow and its view: the workflow cuts the link
// when it goes, and from then on everything is dropped. FOwner is read and
// written on the main thread only.
class TUpdateWorkflow::TViewEvents final : public update::IUpdateEvents {
 public:
  explicit TViewEvents(TUpdateWorkflow* AOwner) : FOwner(AOwner) {}

  void Detach() { FOwner = nullptr; }

  void Log(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor) override {
    OnView([&](IUpdateView& v) { v.LogMsg(AID, AType, AMessage, AColor); });
  }
  void Progress(int ALinesCount, int AActualLine, const std::string& AMsg) override {
    OnView([&](IUpdateView& v) { v.BslFlashingFileBrogress(ALinesCount, AActualLine, AMsg); });
  }
  void Step(update::TUpdateStep AStep) override {
    OnView([&](IUpdateView& v) { v.UiStep(UiStepOf(AStep)); });
  }
  // A failure is also a red log line; the box keeps the text the window
  // has always shown for it, with the cause beneath.
  void Message(update::TUpdateMessage AKind, const update::TUpdateOutcome& AOutcome) override {
    const TBox box = BoxFor(AKind, AOutcome);
    OnView([&](IUpdateView& v) {
      if (AOutcome.Result != update::TUpdateResult::Success)
        v.LogMsg(0, mtDebug, update::CauseLine(AOutcome), clRed);
      v.ShowMessage(box.Text, box.Detail);
    });
  }

  // Steps 2 and 19 to 21 of the worker. None of them may keep the others
  // from running.
  void Lock(bool ALocked) {
    Guarded([&](IUpdateView& v) { v.EnDisSettingsComponents(!ALocked); });
  }
  void Finish(std::shared_ptr<update::TUpdateEngine>& AEngine) {
    Guarded([&](IUpdateView& v) { v.UiStep(TUiStep::F); });
    // The engine's last reference goes on the main thread: the controller
    // it may hold last belongs there.
    RunOnMainThread([&] {
      AEngine.reset();
      if (FOwner != nullptr) FOwner->fTR.store(nullptr);
    });
  }

 private:
  template <class F>
  void OnView(const F& ABody) {
    RunOnMainThread([&] {
      if (FOwner != nullptr) ABody(FOwner->FView);
    });
  }
  template <class F>
  void Guarded(const F& ABody) {
    try {
      OnView(ABody);
    } catch (...) {
    }
  }

  TUpdateWorkflow* FOwner;
};

// What one worker holds: it outlives the workflow if need be.
struct TUpdateWorkflow::TJob {
  std::shared_ptr<update::TUpdateEngine> Engine;
  std::shared_ptr<TViewEvents> Events;
};

TUpdateWorkflow::TUpdateWorkflow(IUpdateView& AView, std::shared_ptr<TJvHidDeviceController> AController)
    : FView(AView), FController(std::move(AController)) {}

TUpdateWorkflow::~TUpdateWorkflow() { Abandon(); }

void TUpdateWorkflow::Start(const update::TSettingsTexts& ASettings) {
  if (fTR.load() != nullptr) return;  // one update at a time
  file_loader = PathToUtf8(station::LoaderImage());
  file_fw = PathToUtf8(station::FirmwareImage());
  if (!Exists(file_loader)) {
    FView.ShowMessage("FW (loader) file \"" + file_loader + "\" not found !");
    return;
  }
  if (!Exists(file_fw)) {
    FView.ShowMessage("FW (application) file \"" + file_fw + "\" not found !");
    return;
  }
  update::TUpdateOptions options;
  options.LoaderFile = file_loader;
  options.FirmwareFile = file_fw;
  options.Settings = ASettings;  // the worker never reads the entry fields
  options.Timing = fTiming;
  auto job = std::make_shared<TJob>();
  job->Events = std::make_shared<TViewEvents>(this);
  job->Engine = std::make_shared<update::TUpdateEngine>(FController, job->Events, std::move(options));
  FEngine = job->Engine;
  FEvents = job->Events;
  auto* runner = new TThreadRunner([job](TThreadRunner* Tr) { FlashThread(Tr, job); }, "Flash thread");
  fTR.store(runner);
  runner->Start();
}

void TUpdateWorkflow::FlashThread(TThreadRunner* Tr, const std::shared_ptr<TJob>& AJob) {
  Tr->FreeOnTerminate = true;
  AJob->Events->Lock(true);
  AJob->Engine->Run();  // logs Start, every step, any error, and End
  AJob->Events->Lock(false);
  AJob->Events->Finish(AJob->Engine);
}

void TUpdateWorkflow::Abandon() {
  if (auto engine = FEngine.lock()) engine->Cancel();
  if (FEvents) FEvents->Detach();
}
