#include "FlashRunner.h"

#include <cstdio>

#include "CliSettings.h"
#include "Console.h"
#include "GangView.h"
#include "PrintableText.h"
#include "UpdateCauseText.h"

namespace {

constexpr uint32_t kLoopSliceMs = 100;  // how soon Ctrl-C and an arrival are seen
constexpr uint32_t kFirstPassMs = 200;  // the device list is complete after the first pass

std::string Clock() { return LogTimestamp().substr(12, 8); }  // hh:mm:ss

// The arguments as a shell would take them back: quoted where needed.
std::string CommandLineText(const std::vector<std::string>& AArgs) {
  std::string text = "kestrova-flash";
  for (const std::string& arg : AArgs) {
    // Quoted where a shell would take it apart (Windows' ports hold "(" and "#").
    const bool plain = !arg.empty() && arg.find_first_of(" \t\"'\\$`()#&;|<>*?!") == std::string::npos;
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

// With --json, standard output holds only the stream: what people read
// goes to standard error, or nowhere with --quiet.
TCliConsole HumanSide(const TCliOptions& AOptions, const TCliConsole& AConsole, std::ostream& ANowhere) {
  if (!AOptions.Json) return AConsole;
  std::ostream& out = AOptions.Quiet ? ANowhere : AConsole.Err;
  const bool terminal = !AOptions.Quiet && AConsole.ErrTerminal;
  return {out, out, terminal, terminal};
}

// kestrova-flash's side of a gang: the boards' lines by port on the
// console, everything in the log.
class TCliGangFront : public IGangFront {
 public:
  TCliGangFront(TFlashRunner& ARunner, TGangView& AView, TLogFile* ALog) : FRunner(ARunner), FView(AView), FLog(ALog) {}

  std::shared_ptr<update::IUpdateEvents> Events(const std::string& APort, const TBoardTags&) override {
    return FRunner.BoardEvents(APort, FView, "[" + update::PortText(APort) + "] ");
  }
  void Line(const std::string& AText) override { FView.Line("kestrova-flash: " + AText); }
  void Result(const std::string& APort, const std::string& AText, bool AFailed) override {
    FView.Result(APort, AText, AFailed);
    if (FLog) FLog->Write("[" + update::PortText(APort) + "] " + AText);
  }
  void WaitsForSerial(const std::string& APort) override {
    FView.Line(update::PortText(APort) + ": waiting for its serial (scan it)");
  }
  void SerialTaken(const std::string& APort, const std::string& ASerial) override {
    FView.Line(update::PortText(APort) + ": serial " + ASerial);
  }
  void Turned() override { FView.Draw(); }

 private:
  TFlashRunner& FRunner;
  TGangView& FView;
  TLogFile* FLog;
};

}  // namespace

TFlashRunner::TFlashRunner(TCliOptions AOptions, TCliConsole AConsole, hid::IHidPlatform* APlatform)
    : FOptions(std::move(AOptions)),
      FConsole(HumanSide(FOptions, AConsole, FNowhere)),
      FJson(FOptions.Json ? std::make_unique<TJsonStream>(AConsole.Out) : nullptr),
      FPlatform(APlatform),
      FView(FConsole.Out, FConsole.Terminal) {
  FView.SetQuiet(FOptions.Quiet);
}

TFlashRunner::~TFlashRunner() = default;

bool TFlashRunner::Interrupted() const {
  return FInterrupted.load() || (FConsoleInterrupt != nullptr && FConsoleInterrupt->load());
}

TExitCode TFlashRunner::Run() {
  if (FOptions.Help || FOptions.Version) {
    FConsole.Out << (FOptions.Help ? CliHelpText() : CliVersionText());
    return TExitCode::Ok;
  }
  try {
    if (FOptions.List) {
      StartBus();
      const std::vector<TDeviceSeen> devices = SeenDevices(*FController, FSkipped);
      if (FJson) {
        for (const TDeviceSeen& device : devices) FJson->Device(device);
      } else {
        ListDevices(devices, FConsole.Out);
      }
      return TExitCode::Ok;
    }
    if (const TExitCode code = Prepare(); code != TExitCode::Ok) return code;
    StartBus();
    const TExitCode code = FOptions.Gang ? Gang() : FOptions.Repeat ? Repeat() : Single();
    if (FSim) FSim->WriteDump();
    return code;
  } catch (const ECliUsage& e) {
    return Refuse(TExitCode::BadInput, e.what());
  } catch (const EStationRefused& e) {
    return Refuse(TExitCode::BadInput, e.what());
  } catch (const std::invalid_argument& e) {  // a malformed KESTROVA_SIM
    return Refuse(TExitCode::BadInput, e.what());
  } catch (const std::exception& e) {
    return Refuse(TExitCode::Error, e.what());
  }
}

// Everything the update needs is read and checked before any board is touched.
TExitCode TFlashRunner::Prepare() {
  if (FOptions.StationFile) TakeStation();
  if (FOptions.LogFile) {
    FLog = std::make_unique<TLogFile>(*FOptions.LogFile);
    if (!FLog->Good()) {
      FLog.reset();
      throw ECliUsage("the log file \"" + *FOptions.LogFile + "\" cannot be written");
    }
    // Which program wrote what follows, and what it was asked to do.
    FLog->Write(CliVersionText().substr(0, CliVersionText().size() - 1));
    FLog->Write("command line: " + CommandLineText(FOptions.Arguments));
  }
  if (FOptions.RecordFile) {
    FRecord = std::make_unique<TRecordFile>(*FOptions.RecordFile);
    if (!FRecord->Good()) throw ECliUsage("the record file \"" + *FOptions.RecordFile + "\" cannot be written");
  }
  FUpdate.Settings = FStation ? StationSettings(*FStation) : ResolveSettings(FOptions);
  if (FJson) FJson->HidePassword(FUpdate.Settings[2]);
  FUpdate.LoaderFile = FOptions.LoaderFile;
  FUpdate.FirmwareFile = FOptions.FirmwareFile;
  try {
    FUpdate.Loader = std::make_shared<TTiTxtImage>(ReadTiTxtImage(FOptions.LoaderFile, TTiTxtImageKind::Loader));
    FUpdate.Firmware =
        std::make_shared<TTiTxtImage>(ReadTiTxtImage(FOptions.FirmwareFile, TTiTxtImageKind::Application));
  } catch (const ETiTxtImageError& e) {
    return Refuse(TExitCode::BadInput, ImageRefusalText(e));
  }
  if (FStation) {
    CheckPinnedImage(*FStation, *FUpdate.Loader, true);
    CheckPinnedImage(*FStation, *FUpdate.Firmware, false);
  }
  FUpdate.Take = [this](TJvHidDevice* ADevice) { return !FNewBoards.Done(ADevice); };
  FUpdate.Name = "Update";
  if (FOptions.Fast) {
    FUpdate.BlockBytes = kWriteFullReports;
    FUpdate.SettingsPause = std::chrono::milliseconds(0);  // what is written is verified: no pause is needed
  }
  return TExitCode::Ok;
}

// The station file stands for the options it replaces (the command line
// refuses them beside it); its serials, if it asks for them, come from
// FSerials.
void TFlashRunner::TakeStation() {
  FStation = ReadStationFile(*FOptions.StationFile);
  FOptions.LoaderFile = FStation->LoaderFile;
  FOptions.FirmwareFile = FStation->FirmwareFile;
  FOptions.Ports = FStation->Ports;
  FOptions.RecordFile = FStation->RecordFile;
  FOptions.Fast = FStation->Fast;
  FOptions.Gang = true;
  if (FStation->SerialRequired && !FSerials)
    throw ECliUsage("station file \"" + FStation->File + "\" asks for a serial per board, and this run has no input for them");
}

void TFlashRunner::StartBus() {
  FSim = TSimRun::FromEnvironment();
  FLoop = std::make_unique<hid::TPlainEventLoop>();
  FController = std::make_shared<TJvHidDeviceController>(nullptr, FSim ? FSim->Platform() : FPlatform);
  FController->OnDeviceSkipped = [this](TJvHidDeviceController*, const TJvHidPnPInfo& AInfo, const std::string& AReason) {
    FSkipped.push_back({AInfo.FDevicePath, AReason});
    if (FLog) FLog->Write("HID device " + AInfo.FDevicePath + " left out: " + AReason);
  };
  FController->OnRemoval = [this](TJvHidDevice* ADevice) { FNewBoards.Forget(ADevice); };
  FPorts = std::make_shared<update::TBoardPorts>(FController);
  FRuns = std::make_unique<TBoardRuns>(
      *FLoop, FPorts, FNewBoards, FRecord.get(), [this](const TBoardEnd& AEnd, const TBoardRecord& ARecord, bool AWritten) {
        if (FJson) FJson->End(AEnd.Port, ARecord, OneLine(update::CauseLine(AEnd.Outcome)));
        if (!AWritten)
          PrintLine("kestrova-flash: the record of the board at " + update::PortText(AEnd.Port) + " could not be written");
      });
  FLoop->RunFor(0);
  FLoop->RunFor(kFirstPassMs);  // arrivals of the first pass
}

// The boards under their loader that this run may take and has not
// updated yet.
std::vector<update::TBoardSeen> TFlashRunner::NewBoards() {
  return FPorts->Present([this](TJvHidDevice* ADevice) { return FNewBoards.IsNew(ADevice); }, FOptions.Ports);
}

// The one board chosen, updated on its own with its progress in view.
update::TUpdateOutcome TFlashRunner::UpdateAlone(const std::string& APort) {
  FRuns->Start(APort, FUpdate, BoardEvents(APort, FView, ""));
  update::TUpdateOutcome outcome;
  while (!FRuns->Empty())
    for (const TBoardEnd& end : FRuns->Turn(Interrupted())) outcome = end.Outcome;
  FView.Finish();
  return outcome;
}

// No board: at the ports asked for, if any.
TExitCode TFlashRunner::NoBoard() {
  update::TUpdateOutcome none;
  none.Result = update::TUpdateResult::NoBoard;
  if (FOptions.Ports.empty()) return EndWith(TExitCode::NoBoard, update::CauseLine(none));
  return EndWith(TExitCode::NoBoard, "No board under its loader was found at " +
                                         std::string(FOptions.Ports.size() == 1 ? "port " : "ports ") +
                                         update::PortList(FOptions.Ports) + "; --list shows the ports of the boards");
}

// With more than one board and no --port that chooses one, nothing is
// sent: the technician decides which board is meant.
TExitCode TFlashRunner::Single() {
  const std::vector<update::TBoardSeen> boards = NewBoards();
  if (boards.size() > 1) return Refuse(TExitCode::SeveralBoards, update::SeveralBoardsText(update::PortsOf(boards)));
  if (boards.empty()) return NoBoard();
  const update::TUpdateOutcome outcome = UpdateAlone(boards.front().Port);
  const TExitCode code = ExitCodeOf(outcome);
  if (code == TExitCode::Ok) {
    PrintLine(update::CauseLine(outcome) + ".");
    return code;
  }
  if (outcome.Result == update::TUpdateResult::Cancelled)
    return EndWith(code, "interrupted by Ctrl-C during the update; " + update::CauseWords(outcome).Todo);
  return EndWith(code, OneLine(update::CauseLine(outcome)));
}

TExitCode TFlashRunner::Repeat() {
  int boards = 0, updated = 0;
  PrintLine("Waiting for a board (Ctrl-C ends)...");
  std::vector<std::string> toldSeveral;  // the ports last named as too many
  while (!Interrupted()) {
    const std::vector<update::TBoardSeen> present = NewBoards();
    if (present.size() != 1) {
      // One board at a time: more wait until all but one are unplugged.
      const std::vector<std::string> ports = present.size() > 1 ? update::PortsOf(present) : std::vector<std::string>{};
      if (!ports.empty() && ports != toldSeveral)
        PrintLine(update::SeveralBoardsText(ports) + "; unplug all but one (--gang updates them all at once)");
      toldSeveral = ports;
      FLoop->RunFor(kLoopSliceMs);
      continue;
    }
    toldSeveral.clear();
    ++boards;
    const update::TUpdateOutcome outcome = UpdateAlone(present.front().Port);
    const bool ok = outcome.Result == update::TUpdateResult::Success;
    updated += ok ? 1 : 0;
    if (!ok && FLog) FLog->Write(update::CauseLine(outcome));
    PrintLine("[" + Clock() + "] board " + std::to_string(boards) + ": " +
              (ok ? "ok" : std::string("FAILED (") + update::ResultName(outcome.Result) + ")") + " in " +
              update::TookText(outcome.Seconds));
    if (!Interrupted()) PrintLine("Unplug the board and connect the next one (Ctrl-C ends)...");
  }
  const int failed = boards - updated;
  if (FConsole.Terminal) FView.Line("");  // after the terminal's "^C"
  PrintLine("Totals: " + std::to_string(boards) + (boards == 1 ? " board, " : " boards, ") + std::to_string(updated) +
            " updated, " + std::to_string(failed) + " failed.");
  const TExitCode code = failed > 0 ? TExitCode::SomeFailed : TExitCode::Ok;
  if (FJson) FJson->Totals(boards, updated, failed, 0, code);
  if (failed > 0) return Refuse(code, std::to_string(failed) + " of " + std::to_string(boards) + " boards failed");
  return code;
}

TExitCode TFlashRunner::Gang() {
  TGangView view(FConsole.Out, FConsole.Terminal, &TerminalColumns, &MoveCursorUp);
  if (FOptions.Repeat) view.Line("Waiting for boards (Ctrl-C ends)...");
  TCliGangFront front(*this, view, FLog.get());
  const TGangEnd end = RunGang({.Repeat = FOptions.Repeat,
                                .Interrupted = [this] { return Interrupted(); },
                                .Runs = *FRuns,
                                .NewBoards = [this] { return NewBoards(); },
                                .Update = FUpdate,
                                .Front = front,
                                .Serials = FStation && FStation->SerialRequired ? FSerials.get() : nullptr,
                                .Station = FStation ? FStation->Name : std::string(),
                                .RefuseUnknownPorts = true,
                                .Again = nullptr,
                                .Idle = {}});
  view.Finish();
  if (!end.Refusal.empty()) return Refuse(TExitCode::SeveralBoards, end.Refusal);
  if (end.Boards == 0 && end.NoSerial.empty() && !FOptions.Repeat) return NoBoard();
  const int failed = static_cast<int>(end.Failed.size()), cancelled = static_cast<int>(end.Cancelled.size());
  std::string totals = "Totals: " + std::to_string(end.Boards) + (end.Boards == 1 ? " board, " : " boards, ") +
                       std::to_string(end.Updated) + " updated, " + std::to_string(failed) + " failed";
  if (cancelled > 0) totals += ", " + std::to_string(cancelled) + " cancelled";
  if (!end.NoSerial.empty()) totals += ", " + std::to_string(end.NoSerial.size()) + " not started without a serial";
  if (FLog) FLog->Write(totals + ".");
  view.Line(totals + ".");
  const TExitCode code = GangEnd(end);
  if (FJson) FJson->Totals(end.Boards, end.Updated, failed, cancelled, code);
  return code;
}

// The last line names the boards that are not updated, with the command
// that updates only them.
TExitCode TFlashRunner::GangEnd(const TGangEnd& AEnd) {
  std::vector<std::string> again = AEnd.Cancelled;
  again.insert(again.end(), AEnd.NoSerial.begin(), AEnd.NoSerial.end());
  again.insert(again.end(), AEnd.Failed.begin(), AEnd.Failed.end());
  // A station fixes its ports: the boards to retry are the ones left connected.
  const std::string retry = FStation ? CommandLineText(FOptions.Arguments) + " with only these boards connected"
                                     : RetryCommand(FOptions.Arguments, again);
  if (!AEnd.Cancelled.empty() || (Interrupted() && !AEnd.NoSerial.empty()))
    return EndWith(TExitCode::Interrupted, "interrupted by Ctrl-C; not updated: " + update::PortList(again) +
                                               "; run the update again before using them: " + retry);
  if (!AEnd.NoSerial.empty())
    return EndWith(TExitCode::SomeFailed, std::to_string(AEnd.NoSerial.size()) + " of " +
                                              std::to_string(AEnd.Boards + static_cast<int>(AEnd.NoSerial.size())) +
                                              " boards not updated, standard input ended before their serials: " +
                                              update::PortList(AEnd.NoSerial) +
                                              (AEnd.Failed.empty() ? "" : "; failed: " + update::PortList(AEnd.Failed)) +
                                              "; to update them: " + retry + ", a serial per board on standard input");
  if (!AEnd.Failed.empty())
    return EndWith(TExitCode::SomeFailed, std::to_string(AEnd.Failed.size()) + " of " + std::to_string(AEnd.Boards) +
                                              " boards failed: " + update::PortList(AEnd.Failed) +
                                              "; to retry only them: " + retry);
  return TExitCode::Ok;
}

TExitCode TFlashRunner::Refuse(TExitCode ACode, std::string AText) {
  const std::string advice = AdviceFor(ACode);
  return EndWith(ACode, OneLine(std::move(AText)) + (advice.empty() ? "" : "; " + advice));
}

TExitCode TFlashRunner::EndWith(TExitCode ACode, const std::string& ALine) {
  if (FLog) FLog->Write("kestrova-flash: " + ALine);
  if (FJson && !FJson->Started()) FJson->Fatal(ACode, ALine);
  if (Interrupted() && FConsole.ErrTerminal) FConsole.Err << '\n';  // after the terminal's "^C"
  FConsole.Err << "kestrova-flash: " << ALine << " (exit code " << static_cast<int>(ACode) << ")" << std::endl;
  return ACode;
}

std::shared_ptr<update::IUpdateEvents> TFlashRunner::BoardEvents(const std::string& APort, IBoardView& AView,
                                                                  const std::string& ALogPrefix) {
  if (FJson)
    FJson->Start(APort, FUpdate.Loader ? FUpdate.Loader->Sha256 : "", FUpdate.Firmware ? FUpdate.Firmware->Sha256 : "");
  return std::make_shared<TBoardEvents>(APort, AView, FLog.get(), ALogPrefix, FJson.get());
}

void TFlashRunner::PrintLine(const std::string& AText) {
  if (FLog) FLog->Write(AText);
  FView.Line(AText);
}
