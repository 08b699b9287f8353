#include "FlashRunner.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "BoardPorts.h"
#include "BoardRecord.h"
#include "CliLog.h"
#include "Console.h"
#include "CliSettings.h"
#include "DeviceList.h"
#include "FastImageWriter.h"
#include "GangRun.h"
#include "NewBoards.h"
#include "PlainEventLoop.h"
#include "PrintableText.h"
#include "ProgressView.h"
#include "SimRun.h"
#include "UpdateCauseText.h"
#include "UpdateEngine.h"

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr uint32_t kLoopSliceMs = 100;  // how soon Ctrl-C and the end of an update are seen
constexpr uint32_t kFirstPassMs = 200;  // the device list is complete after the first pass

std::string Seconds(TClock::duration ADuration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(ADuration).count());
  return text;
}

std::vector<std::string> PortsOf(const std::vector<update::TBoardSeen>& ABoards) {
  std::vector<std::string> ports;
  for (const update::TBoardSeen& board : ABoards) ports.push_back(board.Port);
  return ports;
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

// The command that updates again only the boards at APorts: the same
// arguments with these ports instead of any given, without --repeat.
std::string RetryCommand(const std::vector<std::string>& AArgs, const std::vector<std::string>& APorts) {
  std::vector<std::string> args;
  for (size_t i = 0; i < AArgs.size(); ++i) {
    if (AArgs[i] == "--port") {
      ++i;  // and its value
      continue;
    }
    if (AArgs[i].rfind("--port=", 0) == 0 || AArgs[i] == "--repeat") continue;
    args.push_back(AArgs[i]);
  }
  for (const std::string& port : APorts) args.insert(args.end(), {"--port", port});
  return CommandLineText(args);
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
  std::unique_ptr<TRecordFile> Record;
  std::unique_ptr<TSimRun> Sim;
  hid::IHidPlatform* Platform = nullptr;  // without KESTROVA_SIM
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
  TExitCode Gang();
  TExitCode GangEnd(const TGangEnd& AEnd);
  TExitCode NoBoard();
  std::vector<update::TBoardSeen> NewBoards();
  bool BoardCannotBeOpened(const update::TBoardSeen& ABoard, std::string& AReason);
  void MarkPresentBoardsDone();
  void RecordBoard(const update::TUpdateOutcome& AOutcome, TClock::duration ATook);
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

TFlashRunner::TFlashRunner(TCliOptions AOptions, TCliConsole AConsole, hid::IHidPlatform* APlatform)
    : d(std::make_unique<TImpl>(std::move(AOptions), AConsole, FInterrupted)) {
  d->Platform = APlatform;
}

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
    const TExitCode code = d->Options.Gang ? d->Gang() : d->Options.Repeat ? d->Repeat() : d->Single();
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
  if (Options.RecordFile) {
    Record = std::make_unique<TRecordFile>(*Options.RecordFile);
    if (!Record->Good()) throw ECliUsage("the record file \"" + *Options.RecordFile + "\" cannot be written");
  }
  Update.Settings = ResolveSettings(Options);
  Update.Ports = Options.Ports;
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
  ForgetAllBoards();
  Sim = TSimRun::FromEnvironment();
  Loop = std::make_unique<hid::TPlainEventLoop>();
  Controller = std::make_shared<TJvHidDeviceController>(nullptr, Sim ? Sim->Platform() : Platform);
  Controller->OnDeviceSkipped = [this](TJvHidDeviceController*, const TJvHidPnPInfo& AInfo, const std::string& AReason) {
    Skipped.push_back({AInfo.FDevicePath, AReason});
    if (Log) Log->Write("HID device " + AInfo.FDevicePath + " left out: " + AReason);
  };
  Controller->OnRemoval = &ForgetBoard;
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

// No board: at the ports asked for, if any.
TExitCode TFlashRunner::TImpl::NoBoard() {
  if (Options.Ports.empty()) {
    update::TUpdateOutcome none;
    none.Result = update::TUpdateResult::NoBoard;
    return Report(TExitCode::NoBoard, update::CauseLine(none));
  }
  return Report(TExitCode::NoBoard, "No board under its loader was found at " +
                                        std::string(Options.Ports.size() == 1 ? "port " : "ports ") +
                                        update::PortList(Options.Ports) + "; --list shows the ports of the boards");
}

// The boards under their loader that this run may take and has not
// updated yet.
std::vector<update::TBoardSeen> TFlashRunner::TImpl::NewBoards() {
  std::lock_guard<std::mutex> lock(update::BoardChoiceLock());
  return update::BoardsPresent(*Controller, &FindNewBoardQuietly, Options.Ports);
}

// A board that is there but cannot be opened is named with the system's
// reason before the update starts (the update would see a silent board).
bool TFlashRunner::TImpl::BoardCannotBeOpened(const update::TBoardSeen& ABoard, std::string& AReason) {
  TJvHidDevice* device = nullptr;
  {
    std::lock_guard<std::mutex> lock(update::BoardChoiceLock());
    if (!update::CheckOutSeen(*Controller, ABoard, device)) return false;
  }
  std::string reason;
  const bool opened = CanOpenForReports(*device, reason);
  AReason = "the board " + device->PnPInfo().FDevicePath + " " + reason;
  Controller->CheckIn(device);
  return !opened;
}

void TFlashRunner::TImpl::RecordBoard(const update::TUpdateOutcome& AOutcome, TClock::duration ATook) {
  if (Record && !Record->Append(RecordOf(AOutcome, std::chrono::duration<double>(ATook).count(), Update, Options.Fast)))
    Say("kestrova-flash: the record of the board could not be written to \"" + *Options.RecordFile + "\"");
}

// With more than one board and no --port that chooses one, nothing is
// sent: the technician decides which board is meant.
TExitCode TFlashRunner::TImpl::Single() {
  const auto start = TClock::now();
  const std::vector<update::TBoardSeen> boards = NewBoards();
  if (boards.size() > 1) return Fail(TExitCode::SeveralBoards, update::SeveralBoardsText(PortsOf(boards)));
  if (boards.empty()) return NoBoard();
  if (std::string reason; BoardCannotBeOpened(boards.front(), reason)) return Fail(TExitCode::CannotOpen, reason);
  const update::TUpdateOutcome outcome = RunOne();
  RecordBoard(outcome, TClock::now() - start);
  const std::string took = Seconds(TClock::now() - start);
  switch (ExitCodeOf(outcome, Options.Fast)) {
    case TExitCode::Ok: Say("Board updated and verified in " + took + "."); return TExitCode::Ok;
    case TExitCode::NotVerified:
      if (outcome.Result != update::TUpdateResult::Success) break;
      return Report(TExitCode::NotVerified, "Board updated in " + took +
                                                ", but its loader cannot check memory, so the firmware was not verified");
    case TExitCode::VerifyFailed:
      if (outcome.Result != update::TUpdateResult::Success) break;
      return Report(TExitCode::VerifyFailed,
                    "written with --fast, but the loader cannot check memory, so nothing confirms the firmware; "
                    "do not use the board");
    case TExitCode::Interrupted:
      return Report(TExitCode::Interrupted,
                    "interrupted by Ctrl-C during the update; run the update again before using the board");
    default: break;
  }
  return Report(ExitCodeFor(outcome.Result), update::CauseLine(outcome));
}

// Every board under its loader that is there now counts as done: it has to
// be plugged in again (a new device) to be updated again.
void TFlashRunner::TImpl::MarkPresentBoardsDone() {
  Controller->OnEnumerate = [](TJvHidDevice* ADevice, int) {
    if (IsLoaderBoard(ADevice)) MarkBoardDone(ADevice->PnPInfo().FDeviceID);
    return true;
  };
  Controller->Enumerate();
  Controller->OnEnumerate = nullptr;
}

TExitCode TFlashRunner::TImpl::Repeat() {
  int boards = 0, updated = 0;
  Say("Waiting for a board (Ctrl-C ends)...");
  std::vector<std::string> toldSeveral;  // the ports last named as too many
  while (!Interrupted.load()) {
    const std::vector<update::TBoardSeen> present = NewBoards();
    if (present.size() != 1) {
      // One board at a time: more wait until all but one are unplugged.
      if (present.size() > 1 && PortsOf(present) != toldSeveral)
        Say(update::SeveralBoardsText(PortsOf(present)) + "; unplug all but one (--gang updates them all at once)");
      toldSeveral = present.size() > 1 ? PortsOf(present) : std::vector<std::string>{};
      Loop->RunFor(kLoopSliceMs);
      continue;
    }
    toldSeveral.clear();
    ++boards;
    const auto start = TClock::now();
    std::string result, reason;
    if (BoardCannotBeOpened(present.front(), reason)) {
      result = "FAILED (" + reason + ")";
      update::TUpdateOutcome outcome;
      outcome.Result = update::TUpdateResult::CannotOpen;
      outcome.Cause.Phase = update::TUpdatePhase::Connect;
      outcome.Port = present.front().Port;
      RecordBoard(outcome, TClock::now() - start);
    } else {
      const update::TUpdateOutcome outcome = RunOne();
      RecordBoard(outcome, TClock::now() - start);
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

TExitCode TFlashRunner::TImpl::Gang() {
  TGangView view(Console.Out, Console.Terminal, &TerminalColumns, &MoveCursorUp);
  if (Options.Repeat) view.Line("Waiting for boards (Ctrl-C ends)...");
  const TGangEnd end = RunGang({Options, Interrupted, *Loop, Controller, Update, view, Log.get(), Record.get()});
  view.Finish();
  if (!end.Refusal.empty()) return Fail(TExitCode::SeveralBoards, end.Refusal);
  if (end.Boards == 0 && !Options.Repeat) return NoBoard();
  const int failed = static_cast<int>(end.Failed.size()), cancelled = static_cast<int>(end.Cancelled.size());
  std::string totals = "Totals: " + std::to_string(end.Boards) + (end.Boards == 1 ? " board, " : " boards, ") +
                       std::to_string(end.Updated) + " updated, " + std::to_string(failed) + " failed";
  if (cancelled > 0) totals += ", " + std::to_string(cancelled) + " cancelled";
  if (Log) Log->Write(totals + ".");
  view.Line(totals + ".");
  return GangEnd(end);
}

// The last line names the boards that are not updated, with the command
// that updates only them.
TExitCode TFlashRunner::TImpl::GangEnd(const TGangEnd& AEnd) {
  std::vector<std::string> again = AEnd.Cancelled;
  again.insert(again.end(), AEnd.Failed.begin(), AEnd.Failed.end());
  const std::string retry = RetryCommand(Options.Arguments, again);
  if (!AEnd.Cancelled.empty())
    return Report(TExitCode::Interrupted,
                  "interrupted by Ctrl-C; not updated: " + update::PortList(again) +
                      "; run the update again before using them: " + retry);
  if (!AEnd.Failed.empty())
    return Report(TExitCode::SomeFailed, std::to_string(AEnd.Failed.size()) + " of " + std::to_string(AEnd.Boards) +
                                             " boards failed: " + update::PortList(AEnd.Failed) +
                                             "; to retry only them: " + retry);
  return TExitCode::Ok;
}
