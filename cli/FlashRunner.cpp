#include "FlashRunner.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "BoardIds.h"
#include "CliLog.h"
#include "CliSettings.h"
#include "DeviceList.h"
#include "FastImageWriter.h"
#include "PlainEventLoop.h"
#include "PrintableText.h"
#include "ProgressView.h"
#include "SimSession.h"
#include "UpdateCauseText.h"
#include "UpdateEngine.h"

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr uint32_t kLoopSliceMs = 100;  // how soon Ctrl-C and the end of an update are seen
constexpr uint32_t kFirstPassMs = 200;  // the device list is complete after the first pass

// Boards already updated in this run of --repeat and still plugged in
// (device identities). A board is forgotten when a pass finds it gone: its
// number may come back with the next board. The engine's board predicate
// is a plain function, hence a process-wide set.
std::mutex GDoneLock;
std::set<uint32_t> GDoneBoards;

bool IsLoaderBoard(TJvHidDevice* ADevice) {
  const hid::THidAttributes& a = ADevice->Attributes();
  return IsBslBoard(a.VendorID, a.ProductID);
}

void Forget(TJvHidDevice* ADevice) {
  std::lock_guard<std::mutex> lock(GDoneLock);
  GDoneBoards.erase(ADevice->PnPInfo().FDeviceID);
}

bool IsDone(TJvHidDevice* ADevice) {
  std::lock_guard<std::mutex> lock(GDoneLock);
  return GDoneBoards.count(ADevice->PnPInfo().FDeviceID) != 0;
}

// The engine's predicate: a board under its loader that this run has not
// updated yet (FindMyDevice logs every device it looks at).
bool FindNewBoard(TJvHidDevice* ADevice) { return update::FindMyDevice(ADevice) && !IsDone(ADevice); }
bool FindNewBoardQuietly(TJvHidDevice* ADevice) { return IsLoaderBoard(ADevice) && !IsDone(ADevice); }

// Data bytes written before each line of an image (index: 0-based line).
std::vector<size_t> BytesBeforeLines(const update::TUpdateImage& AImage) {
  std::vector<size_t> perLine(static_cast<size_t>(AImage.Checked.LineCount) + 1, 0);
  for (const TTiTxtSection& section : AImage.Checked.Sections)
    for (const TTiTxtDataLine& line : section.Lines) perLine[static_cast<size_t>(line.Line)] += line.Count;
  std::vector<size_t> before(perLine.size(), 0);
  for (size_t i = 1; i < perLine.size(); ++i) before[i] = before[i - 1] + perLine[i];
  return before;  // before[i]: bytes on lines 1..i, i.e. before 0-based line i
}

std::string Seconds(TClock::duration ADuration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(ADuration).count());
  return text;
}

std::string Clock() { return LogTimestamp().substr(12, 8); }  // hh:mm:ss

// The arguments as a shell would take them back: quoted where needed.
std::string CommandLineText(const std::vector<std::string>& AArgs) {
  std::string text = "kestrova-flash";
  for (const std::string& arg : AArgs) {
    const bool plain = !arg.empty() && arg.find_first_of(" \t\"'\\$`") == std::string::npos;
    text += " " + (plain ? PrintableText(arg) : "\"" + PrintableText(arg) + "\"");
  }
  return text;
}

// The engine's events on the console and in the log.
class TCliEvents : public update::IUpdateEvents {
 public:
  TCliEvents(TProgressView& AView, TCliLog* ALog, bool AQuiet, const update::TUpdateImage& ALoader,
             const update::TUpdateImage& AFirmware)
      : FView(AView), FLog(ALog), FQuiet(AQuiet) {
    FImages[0] = {"loader", BytesBeforeLines(ALoader)};
    FImages[1] = {"firmware", BytesBeforeLines(AFirmware)};
  }

  void Log(int32_t, TMessageType, const std::string& AMessage, TColor) override {
    if (FLog) FLog->Write(AMessage);
  }
  void Progress(int, int AActualLine, const std::string&) override {
    if (FQuiet || FStage < 0) return;
    const auto& image = FImages[FStage];
    if (!FBarOpen) {
      FView.Begin(image.Name, image.BytesBefore.back());
      FBarOpen = true;
    }
    const size_t line = std::min(static_cast<size_t>(std::max(AActualLine, 0)), image.BytesBefore.size() - 1);
    FView.Update(image.BytesBefore[line]);
  }
  void Step(update::TUpdateStep AStep) override {
    using update::TUpdateStep;
    switch (AStep) {
      case TUpdateStep::Started: Say("1. Upload bootloader"); FStage = 0; break;
      case TUpdateStep::LoaderWritten: Say("2. Wait for device"); FStage = -1; break;
      case TUpdateStep::BoardBack: Say("3. Upload new firmware & settings"); FStage = 1; break;
      case TUpdateStep::FirmwareWritten:
      case TUpdateStep::LoaderFailed:
      case TUpdateStep::VerifyFailed: CloseBar(); FStage = -1; break;
    }
  }
  void Message(update::TUpdateMessage, const update::TUpdateOutcome&) override {}
  void Activity(update::TUpdateActivity AKind, uint64_t ADone, uint64_t ATotal) override {
    if (FQuiet) return;
    if (AKind == update::TUpdateActivity::Waiting) {
      const uint64_t left = (ATotal - std::min(ADone, ATotal) + 999) / 1000;
      FView.Status("waiting for the board: " + std::to_string(left) + " s left");
      return;
    }
    if (!FVerifying) {
      CloseBar();
      FView.Begin("verify", static_cast<size_t>(ATotal));
      FBarOpen = FVerifying = true;
    }
    FView.Update(static_cast<size_t>(ADone));
  }
  void CloseBar() {
    if (FBarOpen) FView.Finish();
    FBarOpen = FVerifying = false;
  }

 private:
  void Say(const std::string& AText) {
    CloseBar();
    if (FLog) FLog->Write(AText);
    if (!FQuiet) FView.Line(AText);
  }
  struct TImageProgress {
    std::string Name;
    std::vector<size_t> BytesBefore;
  };
  TProgressView& FView;
  TCliLog* FLog;
  const bool FQuiet;
  TImageProgress FImages[2];
  int FStage = -1;  // image being written: 0 loader, 1 firmware, -1 none
  bool FBarOpen = false;
  bool FVerifying = false;  // the open bar is verification's
};

}  // namespace

struct TFlashRunner::TImpl {
  TCliOptions Options;
  TCliConsole Console;
  std::atomic<bool>& Interrupted;
  TProgressView View;
  std::unique_ptr<TCliLog> Log;
  std::unique_ptr<TSimSession> Sim;
  std::unique_ptr<hid::TPlainEventLoop> Loop;
  std::shared_ptr<TJvHidDeviceController> Controller;
  update::TUpdateOptions Update;
  std::vector<TSkippedDevice> Skipped;  // devices the controller left out

  TImpl(TCliOptions AOptions, TCliConsole AConsole, std::atomic<bool>& AInterrupted)
      : Options(std::move(AOptions)), Console(AConsole), Interrupted(AInterrupted),
        View(AConsole.Out, AConsole.Terminal) {}

  TExitCode Prepare();
  void StartBus();
  update::TUpdateOutcome RunOne();
  TExitCode Single();
  TExitCode Repeat();
  bool NewBoardPresent();
  bool BoardCannotBeOpened(std::string& AReason);
  void MarkPresentBoardsDone();
  // A failure that is no update's outcome: its text and what to do.
  TExitCode Fail(TExitCode ACode, std::string AText) {
    // One line: texts written for a message box may hold several.
    for (char& c : AText)
      if (c == '\n') c = ' ';
    while (!AText.empty() && (AText.back() == '.' || AText.back() == ' ')) AText.pop_back();
    const std::string advice = AdviceFor(ACode);
    return Report(ACode, AText + (advice.empty() ? "" : "; " + advice));
  }
  // The one line that ends the run, on standard error and in the log.
  TExitCode Report(TExitCode ACode, const std::string& ALine) {
    if (Log) Log->Write("kestrova-flash: " + ALine);
    if (Interrupted.load() && Console.ErrTerminal) Console.Err << '\n';  // after the terminal's "^C"
    Console.Err << "kestrova-flash: " << ALine << " (exit code " << static_cast<int>(ACode) << ")" << std::endl;
    return ACode;
  }
  void Say(const std::string& AText) {
    if (Log) Log->Write(AText);
    View.Line(AText);
  }
};

TFlashRunner::TFlashRunner(TCliOptions AOptions, TCliConsole AConsole)
    : d(std::make_unique<TImpl>(std::move(AOptions), AConsole, FInterrupted)) {}

TFlashRunner::~TFlashRunner() {
  if (d->Controller) d->Controller.reset();  // before the loop and the bus it uses
  d->Loop.reset();
}

void TFlashRunner::SetTiming(update::TUpdateTiming ATiming) { d->Update.Timing = std::move(ATiming); }

TExitCode TFlashRunner::Run() {
  if (d->Options.Help || d->Options.Version) {
    d->Console.Out << (d->Options.Help ? CliHelpText() : CliVersionText());
    return TExitCode::Ok;
  }
  try {
    if (d->Options.List) {
      d->StartBus();
      ListDevices(*d->Controller, d->Skipped, d->Console.Out);
      return TExitCode::Ok;
    }
    if (const TExitCode code = d->Prepare(); code != TExitCode::Ok) return code;
    d->StartBus();
    const TExitCode code = d->Options.Repeat ? d->Repeat() : d->Single();
    if (d->Sim) d->Sim->WriteDump();
    return code;
  } catch (const ECliUsage& e) {
    return d->Fail(TExitCode::BadInput, e.what());
  } catch (const std::invalid_argument& e) {  // a malformed KESTROVA_SIM
    return d->Fail(TExitCode::BadInput, e.what());
  } catch (const std::exception& e) {
    return d->Fail(TExitCode::Error, e.what());
  }
}

// Everything the update needs is read and checked before any board is touched.
TExitCode TFlashRunner::TImpl::Prepare() {
  if (Options.LogFile) {
    Log = std::make_unique<TCliLog>(*Options.LogFile);
    if (!Log->Good()) {
      Log.reset();
      throw ECliUsage("the log file \"" + *Options.LogFile + "\" cannot be written");
    }
    // Which program wrote what follows, and what it was asked to do.
    Log->Write(CliVersionText().substr(0, CliVersionText().size() - 1));
    Log->Write("command line: " + CommandLineText(Options.Arguments));
  }
  Update.Settings = ResolveSettings(Options);
  Update.LoaderFile = Options.LoaderFile;
  Update.FirmwareFile = Options.FirmwareFile;
  const std::pair<const std::string*, update::TImageRole> files[] = {
      {&Options.LoaderFile, update::TImageRole::Loader}, {&Options.FirmwareFile, update::TImageRole::Firmware}};
  for (const auto& [file, role] : files) {
    auto image = std::make_shared<update::TUpdateImage>();
    update::TImageRefusal refusal;
    if (!update::ReadImage(*file, role, *image, refusal))
      return Fail(TExitCode::BadInput, update::RefusalText(refusal));
    (role == update::TImageRole::Loader ? Update.Loader : Update.Firmware) = std::move(image);
  }
  Update.Verify = true;
  Update.Predicate = &FindNewBoard;
  Update.Name = "Update";
  if (Options.Fast) {
    Update.Writer = FastImageWriter();
    Update.SettingsPause = 0ms;  // what is written is verified: no pause is needed
  }
  return TExitCode::Ok;
}

void TFlashRunner::TImpl::StartBus() {
  {
    std::lock_guard<std::mutex> lock(GDoneLock);
    GDoneBoards.clear();
  }
  Sim = TSimSession::FromEnvironment();
  Loop = std::make_unique<hid::TPlainEventLoop>();
  Controller = std::make_shared<TJvHidDeviceController>();
  Controller->OnDeviceSkipped = [this](TJvHidDeviceController*, const TJvHidPnPInfo& AInfo, const std::string& AReason) {
    Skipped.push_back({AInfo.FDevicePath, AReason});
    if (Log) Log->Write("HID device " + AInfo.FDevicePath + " left out: " + AReason);
  };
  Controller->OnRemoval = &Forget;
  Loop->RunFor(0);
  Loop->RunFor(kFirstPassMs);  // arrivals of the first pass
}

update::TUpdateOutcome TFlashRunner::TImpl::RunOne() {
  auto events = std::make_shared<TCliEvents>(View, Log.get(), Options.Quiet, *Update.Loader, *Update.Firmware);
  update::TUpdateEngine engine(Controller, events, Update);
  update::TUpdateOutcome outcome;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    outcome = engine.Run();
    done.store(true);
    Loop->Wake();
  });
  while (!done.load()) {
    Loop->RunFor(kLoopSliceMs);
    if (Interrupted.load()) engine.Cancel();
  }
  worker.join();
  events->CloseBar();
  return outcome;
}

// A board that is there but cannot be opened is named with the system's
// reason before the update starts (the update would see a silent board).
bool TFlashRunner::TImpl::BoardCannotBeOpened(std::string& AReason) {
  TJvHidDevice* device = nullptr;
  if (!Controller->CheckOutByCallback(device, &FindNewBoardQuietly)) return false;
  std::string reason;
  const bool opened = CanOpenForReports(*device, reason);
  AReason = "the board " + device->PnPInfo().FDevicePath + " " + reason;
  Controller->CheckIn(device);
  return !opened;
}

TExitCode TFlashRunner::TImpl::Single() {
  const auto start = TClock::now();
  if (std::string reason; BoardCannotBeOpened(reason)) return Fail(TExitCode::CannotOpen, reason);
  const update::TUpdateOutcome outcome = RunOne();
  const std::string took = Seconds(TClock::now() - start);
  if (outcome.Result == update::TUpdateResult::Success && outcome.Verified) {
    Say("Board updated and verified in " + took + ".");
    return TExitCode::Ok;
  }
  if (outcome.Result == update::TUpdateResult::Success && Options.Fast)
    return Report(TExitCode::VerifyFailed,
                  "written with --fast, but the loader cannot check memory, so nothing confirms the firmware; "
                  "do not use the board");
  if (outcome.Result == update::TUpdateResult::Success)
    return Report(TExitCode::NotVerified, "Board updated in " + took +
                                              ", but its loader cannot check memory, so the firmware was not verified");
  if (outcome.Result == update::TUpdateResult::Cancelled)
    return Report(TExitCode::Interrupted, "interrupted by Ctrl-C during the update; run the update again before using the board");
  return Report(ExitCodeFor(outcome.Result), update::CauseLine(outcome));
}

bool TFlashRunner::TImpl::NewBoardPresent() {
  bool found = false;
  Controller->OnEnumerate = [&found](TJvHidDevice* ADevice, int) {
    found = IsLoaderBoard(ADevice) && !IsDone(ADevice);
    return !found;
  };
  Controller->Enumerate();
  Controller->OnEnumerate = nullptr;
  return found;
}

// Every board under its loader that is there now counts as done: it has to
// be plugged in again (a new device) to be updated again.
void TFlashRunner::TImpl::MarkPresentBoardsDone() {
  Controller->OnEnumerate = [](TJvHidDevice* ADevice, int) {
    if (IsLoaderBoard(ADevice)) {
      std::lock_guard<std::mutex> lock(GDoneLock);
      GDoneBoards.insert(ADevice->PnPInfo().FDeviceID);
    }
    return true;
  };
  Controller->Enumerate();
  Controller->OnEnumerate = nullptr;
}

TExitCode TFlashRunner::TImpl::Repeat() {
  int boards = 0, updated = 0;
  Say("Waiting for a board (Ctrl-C ends)...");
  while (!Interrupted.load()) {
    if (!NewBoardPresent()) {
      Loop->RunFor(kLoopSliceMs);
      continue;
    }
    ++boards;
    const auto start = TClock::now();
    std::string result, reason;
    if (BoardCannotBeOpened(reason)) {
      result = "FAILED (" + reason + ")";
    } else {
      const update::TUpdateOutcome outcome = RunOne();
      const bool ok = outcome.Result == update::TUpdateResult::Success && outcome.Verified;
      updated += ok ? 1 : 0;
      result = ok ? "ok" : std::string("FAILED (") + update::ResultName(outcome.Result) + ")";
      if (outcome.Result == update::TUpdateResult::Success && !outcome.Verified) result = "FAILED (not verified)";
      if (!ok && Log) Log->Write(update::CauseLine(outcome));
    }
    MarkPresentBoardsDone();
    Say("[" + Clock() + "] board " + std::to_string(boards) + ": " + result + " in " +
        Seconds(TClock::now() - start));
    if (!Interrupted.load()) Say("Unplug the board and connect the next one (Ctrl-C ends)...");
  }
  const int failed = boards - updated;
  if (Console.Terminal) View.Line("");  // after the terminal's "^C"
  Say("Totals: " + std::to_string(boards) + (boards == 1 ? " board, " : " boards, ") + std::to_string(updated) + " updated, " +
      std::to_string(failed) + " failed.");
  if (failed > 0) return Fail(TExitCode::SomeFailed, std::to_string(failed) + " of " + std::to_string(boards) + " boards failed");
  return TExitCode::Ok;
}
