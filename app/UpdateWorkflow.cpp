#include "UpdateWorkflow.h"

#include <filesystem>
#include <system_error>

#include "MainThread.h"
#include "Orvik.ThreadRunner.h"
#include "StationFiles.h"
#include "UpdateJob.h"
#include "Utf8.h"

namespace {

// Beneath a missing image's message: the folder the window takes both
// images from (in an installed build a hidden one in the user's home).
std::string WhereImagesGo() {
  return std::string("Copy both firmware images, ") + station::kLoaderImageName + " and " +
         station::kFirmwareImageName + ", into the folder \"" + PathToUtf8(station::Folder()) + "\".";
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
    OnView([&](IUpdateView& v) { v.ShowLine(AID, AType, AMessage, AColor); });
  }
  void Progress(const update::TUpdateProgress& AProgress) override {
    OnView([&](IUpdateView& v) { v.ShowProgress(AProgress); });
  }
  void Ended(const update::TUpdateOutcome& AOutcome) override {
    OnView([&](IUpdateView& v) { v.ShowEnd(AOutcome); });
  }

  // The worker's first and last steps. None of them may keep the others
  // from running.
  void Lock(bool ALocked) {
    Guarded([&](IUpdateView& v) { v.EnableSettings(!ALocked); });
  }
  void Finish(std::shared_ptr<update::TUpdateJob>& AJob) {
    Guarded([&](IUpdateView& v) { v.Finish(); });
    // The job's last reference goes on the main thread: the controller it
    // may hold last belongs there.
    RunOnMainThread([&] {
      AJob.reset();
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

TUpdateWorkflow::TUpdateWorkflow(IUpdateView& AView, std::shared_ptr<update::TBoardPorts> APorts)
    : FView(AView), FPorts(std::move(APorts)) {}

TUpdateWorkflow::~TUpdateWorkflow() { Abandon(); }

void TUpdateWorkflow::Start(const update::TSettingsTexts& ASettings) {
  if (fTR.load() != nullptr) return;  // one update at a time
  if (!ImagesFound() || !SettingsAccepted(ASettings)) return;
  update::TUpdateOptions options;
  options.LoaderFile = file_loader;
  options.FirmwareFile = file_fw;
  options.Settings = ASettings;  // the worker never reads the entry fields
  options.Timing = fTiming;
  auto events = std::make_shared<TViewEvents>(this);
  auto job = std::make_shared<update::TUpdateJob>(FPorts, events, std::move(options));
  FJob = job;
  FEvents = events;
  auto* runner = new TThreadRunner(
      [job, events](TThreadRunner* Tr) mutable {
        Tr->FreeOnTerminate = true;
        events->Lock(true);
        job->Run();  // logs Start, every step, any error, and End
        events->Lock(false);
        events->Finish(job);
      },
      "Flash thread");
  fTR.store(runner);
  runner->Start();
}

bool TUpdateWorkflow::ImagesFound() {
  file_loader = PathToUtf8(station::LoaderImage());
  file_fw = PathToUtf8(station::FirmwareImage());
  for (const auto& [file, kind] : {std::pair{&file_loader, "loader"}, std::pair{&file_fw, "application"}}) {
    if (Exists(*file)) continue;
    FView.ShowMessage(std::string("FW (") + kind + ") file \"" + *file + "\" not found !", WhereImagesGo());
    return false;
  }
  return true;
}

// A character that the board cannot store as typed goes only when the
// technician says so; the default sends nothing.
bool TUpdateWorkflow::SettingsAccepted(const update::TSettingsTexts& ASettings) {
  std::string lines;
  for (int field = 0; field < update::kSettingsRecords; ++field)
    for (const auto& unstorable : update::CheckSettingsText(ASettings[static_cast<size_t>(field)]).Unstorable)
      lines += (lines.empty() ? "" : "\n") + update::UnstorableLine(field, unstorable);
  if (lines.empty()) return true;
  return FView.Ask("The board stores only characters up to U+00FF. These would reach it as other characters:",
                   lines, "Send anyway", "Cancel");
}

void TUpdateWorkflow::Abandon() {
  if (auto job = FJob.lock()) job->Cancel();
  if (FEvents) FEvents->Detach();
}
