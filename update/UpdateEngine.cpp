#include "UpdateEngine.h"

#include <tuple>

#include "BoardId.h"
#include "BoardIds.h"
#include "BoardPorts.h"
#include "BslAnswer.h"
#include "BslVerify.h"
#include "DeviceOpenError.h"
#include "HexText.h"
#include "Pause.h"
#include "bsl_hid.h"

namespace update {

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

constexpr auto kAfterPassword = 100ms;   // lets the loader finish the erase
constexpr auto kPollInterval = 500ms;    // between attempts to find the board again
constexpr auto kWaitForBoard = 60000ms;  // the board restarts within seconds


// Each settings line writes the three records.
constexpr uint64_t kSettingsBytes = kSettingsRecords * kSettingsRecordSize;

// Thrown through the flasher when the update is cancelled: not an error.
struct TCancelledSignal {};

// The engine running on this thread, for FindMyDevice's log lines.
thread_local IUpdateEvents* tCurrentEvents = nullptr;

// The result a failure of the loader client calls for.
TUpdateResult ResultOf(const TBslFailure& AFailure) {
  switch (AFailure.Kind) {
    case TBslFailureKind::Gone: return TUpdateResult::BoardLeft;
    case TBslFailureKind::NoAnswer:
    case TBslFailureKind::ReadFailed: return TUpdateResult::NoAnswer;
    case TBslFailureKind::BadAnswer:
    case TBslFailureKind::Refused: return TUpdateResult::BadAnswer;
    case TBslFailureKind::NotWritten:
    case TBslFailureKind::ShortWrite:
    case TBslFailureKind::None: break;
  }
  return TUpdateResult::WriteFailed;
}

// Data bytes an image sends: its own and the settings records at each "SET".
uint64_t BytesToSend(const TUpdateImage& AImage) {
  uint64_t bytes = AImage.Checked.DataSize();
  for (const TTiTxtMark& mark : AImage.Checked.Marks)
    if (mark.Kind == TTiTxtLineKind::Settings) bytes += kSettingsBytes;
  return bytes;
}

}  // namespace

const char* ResultName(TUpdateResult AResult) {
  switch (AResult) {
    case TUpdateResult::Success: return "success";
    case TUpdateResult::BadImage: return "bad image";
    case TUpdateResult::NoBoard: return "no board";
    case TUpdateResult::SeveralBoards: return "several boards";
    case TUpdateResult::CannotOpen: return "board cannot be opened";
    case TUpdateResult::PasswordRefused: return "password refused";
    case TUpdateResult::BoardNotBack: return "board not back";
    case TUpdateResult::WrongLoader: return "board back under another loader";
    case TUpdateResult::WriteFailed: return "write failed";
    case TUpdateResult::NoAnswer: return "no answer";
    case TUpdateResult::BadAnswer: return "wrong answer";
    case TUpdateResult::BoardLeft: return "board left the bus";
    case TUpdateResult::VerifyFailed: return "verification failed";
    case TUpdateResult::Error: return "error";
    case TUpdateResult::Cancelled: return "cancelled";
  }
  return "?";
}

const char* PhaseName(TUpdatePhase APhase) {
  switch (APhase) {
    case TUpdatePhase::Images: return "images";
    case TUpdatePhase::Connect: return "connect";
    case TUpdatePhase::Unlock: return "unlock";
    case TUpdatePhase::Loader: return "loader";
    case TUpdatePhase::Wait: return "wait";
    case TUpdatePhase::Identify: return "identify";
    case TUpdatePhase::Firmware: return "firmware";
    case TUpdatePhase::Verify: return "verify";
    case TUpdatePhase::Done: return "done";
  }
  return "?";
}

bool OpensForReports(TJvHidDevice* ADev, std::string& AWhy) {
  if (ADev->OpenReadWrite()) return true;
  AWhy = DeviceOpenErrorText(ADev->LastError());
  return false;
}

bool FindMyDevice(TJvHidDevice* AHidDev) {
  const hid::THidAttributes& a = AHidDev->Attributes();
  if (tCurrentEvents != nullptr)
    tCurrentEvents->Log(4, mtSystem, " xx - VID: " + Hex4(a.VendorID) + ", PID: " + Hex4(a.ProductID),
                        clGreen);
  return IsBslBoard(a.VendorID, a.ProductID);
}

// One run: the client and the board it holds, released on every way out.
struct TUpdateEngine::TRun {
  TUpdateEngine& E;
  IUpdateEvents& Events;
  TJvHidDeviceController& Ctl;
  std::unique_ptr<TBsl> Bsl;
  TJvHidDevice* Dev = nullptr;
  std::shared_ptr<const TUpdateImage> Loader, Firmware;
  std::vector<TImageRange> SettingsSent;
  TImageRole Stage = TImageRole::Loader;
  TUpdatePhase Phase = TUpdatePhase::Images;
  std::string Port;  // of the board taken: it comes back there
  std::string BoardId;

  TRun(TUpdateEngine& AEngine)
      : E(AEngine), Events(*AEngine.FEvents), Ctl(*AEngine.FController) {}

  TUpdateOutcome Update();
  bool ReadImages(TUpdateOutcome& AOutcome);
  void Connect();
  void InstallSettings();
  bool Unlock(TUpdateOutcome& AOutcome);
  bool Write(const TUpdateImage& AImage, TUpdateOutcome& AOutcome);
  bool TakeBoard(TUpdateOutcome& AOutcome);
  bool TakeReturnedBoard();
  bool WaitForBoard(TUpdateOutcome& AOutcome);
  bool Identify(TUpdateOutcome& AOutcome);
  bool ReadId(TUpdateOutcome& AOutcome);
  TUpdateOutcome Finish();
  void Release();

  TUpdateOutcome End(TUpdateResult AResult, std::string AText = {}) {
    TUpdateOutcome outcome{AResult, Stage, std::move(AText), false, {}, Port, BoardId};
    outcome.Cause.Phase = Phase;
    return outcome;
  }
  // The update ends because of what the client found on its last command.
  TUpdateOutcome EndAt(const TBslFailure& AFailure) {
    TUpdateOutcome outcome = End(ResultOf(AFailure));
    outcome.Cause.Failure = AFailure;
    return outcome;
  }
  // Tells the technician how the update ended; the outcome goes on as is.
  TUpdateOutcome Tell(TUpdateMessage AKind, TUpdateOutcome AOutcome) {
    Events.Message(AKind, AOutcome);
    return AOutcome;
  }
  void Pause(std::chrono::milliseconds ADuration) {
    if (E.Cancelled()) throw TCancelledSignal{};
    E.FOptions.Timing.Sleep(ADuration);
    if (E.Cancelled()) throw TCancelledSignal{};
  }
  std::vector<TBoardSeen> BoardsThere(const std::vector<std::string>& APorts) {
    TJvHidCheckCallback predicate = E.FOptions.Predicate ? E.FOptions.Predicate : &FindMyDevice;
    return BoardsPresent(Ctl, predicate, APorts);
  }
  void CheckIn() {
    if (Dev != nullptr) Ctl.CheckIn(Dev);
  }
};

TUpdateOutcome TUpdateEngine::TRun::Update() {
  TUpdateOutcome outcome;
  if (!ReadImages(outcome)) return Tell(TUpdateMessage::ImageRefused, outcome);
  if (E.Cancelled()) return End(TUpdateResult::Cancelled);
  Phase = TUpdatePhase::Connect;
  if (!TakeBoard(outcome))
    return outcome.Result == TUpdateResult::SeveralBoards ? Tell(TUpdateMessage::SeveralBoards, outcome) : outcome;
  std::string why;
  if (E.FOptions.CanOpen && !E.FOptions.CanOpen(Dev, why))
    return Tell(TUpdateMessage::CannotOpen, End(TUpdateResult::CannotOpen, why));
  Connect();

  Phase = TUpdatePhase::Unlock;
  bool loaderWritten = Unlock(outcome);
  if (loaderWritten) {
    Phase = TUpdatePhase::Loader;
    loaderWritten = Write(*Loader, outcome);
  }
  if (!loaderWritten) {
    Events.Step(TUpdateStep::LoaderFailed);
    return Tell(TUpdateMessage::LoaderFailure, outcome);
  }
  Events.Step(TUpdateStep::LoaderWritten);
  Dev = Bsl->HidDev();
  CheckIn();
  Bsl->SetHidDev(nullptr);

  Stage = TImageRole::Firmware;
  Phase = TUpdatePhase::Wait;
  if (!WaitForBoard(outcome)) return Tell(TUpdateMessage::Failed, outcome);
  Events.Step(TUpdateStep::BoardBack);
  Bsl->SetHidDev(Dev);
  Phase = TUpdatePhase::Identify;
  if (!Identify(outcome) || !ReadId(outcome)) return Tell(TUpdateMessage::Failed, outcome);
  InstallSettings();
  Phase = TUpdatePhase::Firmware;
  if (!Write(*Firmware, outcome)) return Tell(TUpdateMessage::Failed, outcome);
  return Finish();
}

// Both images are read and checked before anything goes to the board.
bool TUpdateEngine::TRun::ReadImages(TUpdateOutcome& AOutcome) {
  const TUpdateOptions& o = E.FOptions;
  Loader = o.Loader;
  Firmware = o.Firmware;
  for (auto [image, file, role] : {std::tuple{&Loader, &o.LoaderFile, TImageRole::Loader},
                                   std::tuple{&Firmware, &o.FirmwareFile, TImageRole::Firmware}}) {
    if (*image) continue;
    auto read = std::make_shared<TUpdateImage>();
    TImageRefusal refusal;
    if (!ReadImage(*file, role, *read, refusal)) {
      Stage = role;
      AOutcome = End(TUpdateResult::BadImage, RefusalText(refusal));
      return false;
    }
    *image = std::move(read);
  }
  return true;
}

void TUpdateEngine::TRun::Connect() {
  Bsl = std::make_unique<TBsl>();
  Bsl->SetOnLogMsg([this](int32_t i, TMessageType t, const std::string& m, TColor c) {
    Events.Log(i, t, m, c);
  });
  Bsl->SetHidDev(Dev);
  InstallSettings();
  Bsl->SetOnProgress([this](int n, int i, const std::string& m) {
    if (E.Cancelled()) throw TCancelledSignal{};
    Events.Progress(n, i, m);
  });
  Bsl->SetAnswerTimeoutMs(E.FOptions.AnswerTimeoutMs);
  Bsl->SetLateAnswerGraceMs(E.FOptions.LateAnswerGraceMs);
}

// At the image's settings line: the three records, remembered as sent so
// that verification covers them.
void TUpdateEngine::TRun::InstallSettings() {
  Bsl->SetOnSet([this](TBsl* ABsl) {
    const auto records = WriteSettingsBlock(
        ABsl, E.FOptions.Settings, [this] { Pause(E.FOptions.SettingsPause); }, Bsl->onLogMsg());
    SettingsSent.insert(SettingsSent.end(), records.begin(), records.end());
  });
}

// The password that erases the board, then the one of an erased board. The
// loader answers the first with a refusal (or an acceptance, on an erased
// board): either is fine, but a board that does not answer it, or answers
// nonsense, or a report that does not reach it, ends the update there.
bool TUpdateEngine::TRun::Unlock(TUpdateOutcome& AOutcome) {
  Bsl->cmd_SendPassword(BSL_Default_Password_erase);
  if (Bsl->LastFailure().Failed() && Bsl->LastFailure().Kind != TBslFailureKind::Refused) {
    AOutcome = EndAt(Bsl->LastFailure());
    return false;
  }
  Pause(kAfterPassword);
  const bool unlocked = Bsl->cmd_SendPassword(BSL_Default_Password);
  const TBslFailure failure = Bsl->LastFailure();
  Pause(kAfterPassword);
  if (unlocked) return true;
  AOutcome = failure.Kind == TBslFailureKind::Refused ? End(TUpdateResult::PasswordRefused) : EndAt(failure);
  AOutcome.Cause.Failure = failure;
  return false;
}

// The image's lines as checked, never the file again: what is sent is what
// was checked. The image is written when its end line was reached and every
// report went out whole; otherwise the outcome says why not.
bool TUpdateEngine::TRun::Write(const TUpdateImage& AImage, TUpdateOutcome& AOutcome) {
  Bsl->ResetTally();
  bool complete = false;
  if (E.FOptions.Writer) {
    complete = E.FOptions.Writer(*Bsl, AImage);
  } else {
    Events.Log(0, mtDebug, "Begin flashing file \"" + AImage.FileName + "\".", clBlack);
    complete = Bsl->FlashHex(AImage.Lines);
    Events.Log(0, mtDebug, "End flashing file \"" + AImage.FileName + "\".", clBlack);
  }
  const TBslWriteTally tally = Bsl->Tally();
  if (complete && tally.FailedReports == 0) return true;
  // A board that left ends the image at once; otherwise the first report
  // that did not go out tells why.
  AOutcome = Bsl->DeviceGone() ? EndAt(Bsl->LastFailure()) : EndAt(tally.First);
  AOutcome.Cause.BytesSent = tally.DataBytes;
  AOutcome.Cause.BytesTotal = BytesToSend(AImage);
  AOutcome.Cause.FailedReports = tally.FailedReports;
  return false;
}

// The only board there is, or the only one at the ports asked for.
bool TUpdateEngine::TRun::TakeBoard(TUpdateOutcome& AOutcome) {
  std::lock_guard<std::mutex> lock(BoardChoiceLock());
  const std::vector<TBoardSeen> found = BoardsThere(E.FOptions.Ports);
  if (found.size() > 1) {
    std::vector<std::string> ports;
    for (const TBoardSeen& board : found) ports.push_back(board.Port);
    AOutcome = End(TUpdateResult::SeveralBoards, SeveralBoardsText(ports));
    return false;
  }
  if (found.empty() || !CheckOutSeen(Ctl, found.front(), Dev)) {
    AOutcome = End(TUpdateResult::NoBoard);
    return false;
  }
  Port = Dev->PnPInfo().FPort;
  Events.Log(0, mtDebug, "Board port: " + PortText(Port), clBlack);
  return true;
}

// The board back at the port it left, never one at another port.
bool TUpdateEngine::TRun::TakeReturnedBoard() {
  std::lock_guard<std::mutex> lock(BoardChoiceLock());
  const std::vector<TBoardSeen> found = BoardsThere({});
  const int at = ReturnedBoard(found, Port);
  return at >= 0 && CheckOutSeen(Ctl, found[static_cast<size_t>(at)], Dev);
}

// Every 500 ms for up to 60 s: the board leaves the bus when the RAM
// loader starts and comes back as a new device with the same identifiers,
// at the same port. An old entry that still matches cannot be opened and
// goes back.
bool TUpdateEngine::TRun::WaitForBoard(TUpdateOutcome& AOutcome) {
  const TUpdateTiming& t = E.FOptions.Timing;
  const auto begin = t.Now();
  const auto timeout = begin + kWaitForBoard;
  std::string seenButClosed;
  while (t.Now() < timeout) {
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(t.Now() - begin);
    Events.Activity(TUpdateActivity::Waiting, static_cast<uint64_t>(waited.count()),
                    static_cast<uint64_t>(kWaitForBoard.count()));
    Pause(kPollInterval);
    if (!TakeReturnedBoard()) continue;
    if (Dev->OpenFile()) return true;
    seenButClosed = Dev->LastError().Reason;
    CheckIn();
  }
  AOutcome = End(TUpdateResult::BoardNotBack);
  AOutcome.Cause.WaitedMs = static_cast<uint32_t>(kWaitForBoard.count());
  AOutcome.Cause.SeenButClosed = seenButClosed;
  return false;
}

// The board that came back must answer, and not as the locked resident
// loader it left: a board that was unplugged or reset during the wait comes
// back under that one, and writing the firmware to it would be in vain.
bool TUpdateEngine::TRun::Identify(TUpdateOutcome& AOutcome) {
  TBytes reply;
  Bsl->cmd_TxBslVersion(reply);
  TBslFailure failure = Bsl->LastFailure();
  const TBslAnswer answer = failure.Failed() ? TBslAnswer{} : ParseBslAnswer(reply);
  if (answer.Kind == TBslAnswer::Message && answer.Code == kBslMessageLocked) {
    AOutcome = End(TUpdateResult::WrongLoader);
    AOutcome.Cause.Failure = failure;
    AOutcome.Cause.Failure.Message = answer.Code;
    return false;
  }
  // The version is four bytes: vendor, interpreter, API, peripheral.
  constexpr size_t kVersionBytes = 4;
  const bool wrongData = answer.Kind == TBslAnswer::Data && answer.Bytes.size() != kVersionBytes;
  if (!failure.Failed() && (answer.Kind == TBslAnswer::None || wrongData)) {
    failure.Kind = TBslFailureKind::BadAnswer;
    failure.Answer = AnswerExcerpt(reply);
  }
  if (!failure.Failed()) return true;
  AOutcome = EndAt(failure);
  return false;
}

// The chip's die record, through the RAM loader. A loader that refuses the
// command (or a chip without the record) leaves the ID empty and the
// update goes on; a board that does not answer, or answers what no loader
// answers, ends it, as at the version query.
bool TUpdateEngine::TRun::ReadId(TUpdateOutcome& AOutcome) {
  TBslFailure failure;
  BoardId = ReadBoardId(*Bsl, &failure);
  if (failure.Failed()) {
    AOutcome = EndAt(failure);
    return false;
  }
  Events.Log(0, mtDebug, "Board ID: " + (BoardId.empty() ? std::string("none (the loader does not tell)") : BoardId),
             clBlack);
  return true;
}

// What the board now holds is compared with what was sent: the
// application image and the settings records over it.
TUpdateOutcome TUpdateEngine::TRun::Finish() {
  bool verified = false;
  if (E.FOptions.Verify) {
    Phase = TUpdatePhase::Verify;
    TVerifyPlan plan;
    plan.AddImage(Firmware->Checked);
    for (const TImageRange& record : SettingsSent) plan.Add(record.Address, record.Bytes);
    const TVerifyOutcome check = VerifyWritten(*Bsl, plan, [this](uint64_t ADone, uint64_t ATotal) {
      Events.Activity(TUpdateActivity::Verifying, ADone, ATotal);
    });
    if (check.Failed()) {
      Events.Log(0, mtDebug, kNotCorrectText, clRed);
      Events.Step(TUpdateStep::VerifyFailed);
      TUpdateOutcome outcome =
          check.Result == TVerifyResult::Mismatch ? End(TUpdateResult::VerifyFailed) : EndAt(check.Failure);
      outcome.Cause.Verify = check;
      return Tell(TUpdateMessage::VerifyFailed, outcome);
    }
    verified = check.Result == TVerifyResult::Ok;
  }
  Phase = TUpdatePhase::Done;
  Bsl.reset();
  Events.Log(0, mtDebug, kSuccessText, clGreen);
  Events.Step(TUpdateStep::FirmwareWritten);
  TUpdateOutcome outcome = End(TUpdateResult::Success);
  outcome.Verified = verified;
  return Tell(TUpdateMessage::Success, outcome);
}

void TUpdateEngine::TRun::Release() {
  Bsl.reset();
  CheckIn();
}

// ---------------------------------------------------------------- engine

TUpdateEngine::TUpdateEngine(std::shared_ptr<TJvHidDeviceController> AController,
                             std::shared_ptr<IUpdateEvents> AEvents, TUpdateOptions AOptions)
    : FController(std::move(AController)), FEvents(std::move(AEvents)), FOptions(std::move(AOptions)) {}

TUpdateEngine::~TUpdateEngine() = default;

TUpdateOutcome TUpdateEngine::Run() {
  // The pauses of the update, and the window's pause after every image
  // line, are short and precise while it runs.
  const pacing::TFinePauses finePauses;
  IUpdateEvents* const previous = tCurrentEvents;
  tCurrentEvents = FEvents.get();
  TRun run(*this);
  TUpdateOutcome outcome;
  // A receiver that fails to show a line must not end the update early.
  auto log = [this](const std::string& AText, TColor AColor) {
    try {
      FEvents->Log(0, mtDebug, FOptions.Name + AText, AColor);
    } catch (...) {
    }
  };
  try {
    FEvents->Log(0, mtDebug, FOptions.Name + " - Start", clBlack);
    FEvents->Step(TUpdateStep::Started);
    outcome = run.Update();
  } catch (const TCancelledSignal&) {
    outcome = run.End(TUpdateResult::Cancelled);
  } catch (const std::exception& e) {
    log(std::string(" - Exception: ") + e.what(), clRed);
    outcome = run.End(TUpdateResult::Error, e.what());
  } catch (...) {
    log(" - Exception: unknown error", clRed);
    outcome = run.End(TUpdateResult::Error, "unknown error");
  }
  try {
    run.Release();
  } catch (...) {
  }
  log(" - End", clBlack);
  tCurrentEvents = previous;
  return outcome;
}

}  // namespace update
