#include "UpdateEngine.h"

#include <tuple>

#include "BoardId.h"
#include "BoardIds.h"
#include "BslProtocol.h"
#include "BslVerify.h"
#include "DeviceOpenError.h"
#include "HexText.h"
#include "Pause.h"

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

// Thrown through the writer when the update is cancelled: not an error.
struct TCancelledSignal {};

// The ending a failure of the loader client calls for.
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
uint64_t BytesToSend(const TTiTxtImage& AImage) {
  uint64_t bytes = AImage.DataSize();
  for (const TTiTxtMark& mark : AImage.Marks)
    if (mark.Kind == TTiTxtLineKind::Settings) bytes += kSettingsBytes;
  return bytes;
}

// One update: the client and the board it holds, released on every way out.
class TUpdateRun {
 public:
  TUpdateRun(const TUpdateOptions& AOptions, IUpdateEvents& AEvents, TBoardPorts& APorts,
             const std::atomic<bool>& ACancelled)
      : FOptions(AOptions), FEvents(AEvents), FPorts(APorts), FCancelled(ACancelled) {}

  TUpdateOutcome Update();
  void Enter(TUpdateStage AStage) {
    FStage = AStage;
    FEvents.Progress({AStage});
  }
  TUpdateOutcome Ending(TUpdateResult AResult, std::string AText = {}) const {
    TUpdateOutcome outcome;
    outcome.Result = AResult;
    outcome.Stage = FStage;
    outcome.Text = std::move(AText);
    outcome.Port = FPort;
    outcome.BoardId = FBoardId;
    outcome.FullReports = FOptions.BlockBytes != kWriteLineByLine;
    return outcome;
  }
  void Release() {
    FBsl.reset();
    CheckIn();
  }

 private:
  // The update ends because of what the client found on its last command
  // (a command whose wait a cancel cut short found nothing).
  TUpdateOutcome EndingAt(const TBslFailure& AFailure) const {
    if (FCancelled.load()) return Ending(TUpdateResult::Cancelled);
    TUpdateOutcome outcome = Ending(ResultOf(AFailure));
    outcome.Cause.Failure = AFailure;
    return outcome;
  }
  bool ReadImages(TUpdateOutcome& AOutcome);
  bool TakeBoard(TUpdateOutcome& AOutcome);
  void Connect();
  void InstallSettings();
  bool Unlock(TUpdateOutcome& AOutcome);
  bool Write(const TTiTxtImage& AImage, TUpdateOutcome& AOutcome);
  bool WaitForBoard(TUpdateOutcome& AOutcome);
  bool Identify(TUpdateOutcome& AOutcome);
  bool ReadId(TUpdateOutcome& AOutcome);
  TUpdateOutcome Finish();

  void Pause(std::chrono::milliseconds ADuration) {
    if (FCancelled.load()) throw TCancelledSignal{};
    FOptions.Timing.Sleep(ADuration);
    if (FCancelled.load()) throw TCancelledSignal{};
  }
  void Log(const std::string& AText, TColor AColor) { FEvents.Log(0, mtDebug, AText, AColor); }
  // The board to take: under its loader (every device looked at is
  // logged), and one the front end leaves to this update.
  TBoardTest Board() {
    return [this](TJvHidDevice* ADevice) {
      return FindMyDevice(ADevice, [this](int32_t i, TMessageType t, const std::string& m, TColor c) {
               FEvents.Log(i, t, m, c);
             }) && (!FOptions.Take || FOptions.Take(ADevice));
    };
  }
  void CheckIn() {
    if (FDev != nullptr) FPorts.Controller().CheckIn(FDev);
  }

  const TUpdateOptions& FOptions;
  IUpdateEvents& FEvents;
  TBoardPorts& FPorts;
  const std::atomic<bool>& FCancelled;
  std::unique_ptr<TBsl> FBsl;
  TJvHidDevice* FDev = nullptr;
  std::shared_ptr<const TTiTxtImage> FLoader, FFirmware;
  std::vector<TTiTxtRange> FSettingsSent;
  TUpdateStage FStage = TUpdateStage::Images;
  std::string FPort;  // of the board taken: it comes back there
  std::string FBoardId;
};

TUpdateOutcome TUpdateRun::Update() {
  TUpdateOutcome outcome;
  if (!ReadImages(outcome)) return outcome;
  if (FCancelled.load()) return Ending(TUpdateResult::Cancelled);
  Enter(TUpdateStage::Connect);
  if (!TakeBoard(outcome)) return outcome;
  std::string why;
  if (FOptions.CanOpen && !FOptions.CanOpen(FDev, why))  // a board leaving as it is opened has left
    return Ending(FDev->LastError().Gone ? TUpdateResult::BoardLeft : TUpdateResult::CannotOpen, why);
  Connect();

  Enter(TUpdateStage::Unlock);
  if (!Unlock(outcome)) return outcome;
  Enter(TUpdateStage::Loader);
  if (!Write(*FLoader, outcome)) return outcome;
  FDev = FBsl->HidDev();
  CheckIn();
  FBsl->SetHidDev(nullptr);

  Enter(TUpdateStage::Wait);
  if (!WaitForBoard(outcome)) return outcome;
  FBsl->SetHidDev(FDev);
  Enter(TUpdateStage::Identify);
  if (!Identify(outcome) || !ReadId(outcome)) return outcome;
  InstallSettings();
  Enter(TUpdateStage::Firmware);
  if (!Write(*FFirmware, outcome)) return outcome;
  return Finish();
}

// Both images are read and checked before anything goes to the board.
bool TUpdateRun::ReadImages(TUpdateOutcome& AOutcome) {
  FLoader = FOptions.Loader;
  FFirmware = FOptions.Firmware;
  for (auto [image, file, kind] :
       {std::tuple{&FLoader, &FOptions.LoaderFile, TTiTxtImageKind::Loader},
        std::tuple{&FFirmware, &FOptions.FirmwareFile, TTiTxtImageKind::Application}}) {
    if (*image) continue;
    try {
      *image = std::make_shared<TTiTxtImage>(ReadTiTxtImage(*file, kind));
    } catch (const ETiTxtImageError& e) {
      AOutcome = Ending(TUpdateResult::BadImage, ImageRefusalText(e));
      return false;
    }
  }
  return true;
}

// The board the front end chose, or the only one there is.
bool TUpdateRun::TakeBoard(TUpdateOutcome& AOutcome) {
  std::vector<TBoardSeen> found;
  FDev = FPorts.Take(Board(), FOptions.Port, found);
  if (FDev == nullptr && found.size() > 1) {
    AOutcome = Ending(TUpdateResult::SeveralBoards, SeveralBoardsText(PortsOf(found)));
    AOutcome.Cause.Ports = PortsOf(found);
    return false;
  }
  if (FDev == nullptr) {
    AOutcome = Ending(TUpdateResult::NoBoard);
    return false;
  }
  FPort = FDev->PnPInfo().FPort;
  Log("Board port: " + PortText(FPort), clBlack);
  return true;
}

void TUpdateRun::Connect() {
  FBsl = std::make_unique<TBsl>();
  FBsl->SetOnLogMsg([this](int32_t i, TMessageType t, const std::string& m, TColor c) { FEvents.Log(i, t, m, c); });
  FBsl->SetHidDev(FDev);
  InstallSettings();
  FBsl->SetAnswerTimeoutMs(FOptions.AnswerTimeoutMs);
  FBsl->SetCancel(&FCancelled);
  FBsl->SetLateAnswerGraceMs(FOptions.LateAnswerGraceMs);
}

// At the image's settings line: the three records, remembered as sent so
// that verification covers them.
void TUpdateRun::InstallSettings() {
  FBsl->SetOnSet([this](TBsl* ABsl) {
    const auto records =
        WriteSettingsBlock(ABsl, FOptions.Settings, [this] { Pause(FOptions.SettingsPause); }, FBsl->onLogMsg());
    FSettingsSent.insert(FSettingsSent.end(), records.begin(), records.end());
  });
}

// The password that erases the board, then the one of an erased board. The
// loader answers the first with a refusal (or an acceptance, on an erased
// board): either is fine, but a board that does not answer it, or answers
// nonsense, or a report that does not reach it, ends the update there.
bool TUpdateRun::Unlock(TUpdateOutcome& AOutcome) {
  FBsl->cmd_SendPassword(BSL_Default_Password_erase);
  if (FBsl->LastFailure().Failed() && FBsl->LastFailure().Kind != TBslFailureKind::Refused) {
    AOutcome = EndingAt(FBsl->LastFailure());
    return false;
  }
  Pause(kAfterPassword);
  const bool unlocked = FBsl->cmd_SendPassword(BSL_Default_Password);
  const TBslFailure failure = FBsl->LastFailure();
  Pause(kAfterPassword);
  if (unlocked) return true;
  AOutcome = failure.Kind == TBslFailureKind::Refused ? Ending(TUpdateResult::PasswordRefused) : EndingAt(failure);
  AOutcome.Cause.Failure = failure;
  return false;
}

// The image as checked, never the file again: what is sent is what was
// checked. The image is written when its end line was reached and every
// report went out whole; otherwise the outcome says why not.
bool TUpdateRun::Write(const TTiTxtImage& AImage, TUpdateOutcome& AOutcome) {
  FBsl->ResetTally();
  const bool complete = WriteImage(*FBsl, AImage, FOptions.BlockBytes, [this](const TImageProgress& AProgress) {
    if (FCancelled.load()) throw TCancelledSignal{};
    FEvents.Progress({FStage, AProgress.Done, AProgress.Total, AProgress.Line, AProgress.Lines});
  });
  const TBslWriteTally tally = FBsl->Tally();
  if (complete && tally.FailedReports == 0) return true;
  // A board that left ends the image at once; otherwise the first report
  // that did not go out tells why.
  AOutcome = FBsl->DeviceGone() ? EndingAt(FBsl->LastFailure()) : EndingAt(tally.First);
  AOutcome.Cause.BytesSent = tally.DataBytes;
  AOutcome.Cause.BytesTotal = BytesToSend(AImage);
  AOutcome.Cause.FailedReports = tally.FailedReports;
  return false;
}

// Every 500 ms for up to 60 s: the board leaves the bus when the RAM
// loader starts and comes back as a new device with the same identifiers,
// at the same port. An old entry that still matches cannot be opened and
// goes back. Each look asks the controller for a pass first: the system
// tells of a device once, and a board whose interface could not yet be
// opened then would otherwise wait for the next device to change.
bool TUpdateRun::WaitForBoard(TUpdateOutcome& AOutcome) {
  const TUpdateTiming& t = FOptions.Timing;
  const auto begin = t.Now();
  const auto timeout = begin + kWaitForBoard;
  std::string seenButClosed;
  while (t.Now() < timeout) {
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(t.Now() - begin);
    FEvents.Progress({TUpdateStage::Wait, static_cast<uint64_t>(waited.count()),
                      static_cast<uint64_t>(kWaitForBoard.count())});
    FPorts.Controller().RequestPass();
    Pause(kPollInterval);
    std::vector<TBoardSeen> found;
    FDev = FPorts.Take(Board(), FPort, found);
    if (FDev == nullptr) continue;
    // A board that cannot be opened for reading and writing yet goes back
    // too, to be opened at the next look: udev gives the user its node a
    // moment after the node appears.
    if (FDev->OpenReadWrite()) return true;
    seenButClosed = FDev->LastError().Reason;
    CheckIn();
  }
  AOutcome = Ending(TUpdateResult::BoardNotBack);
  AOutcome.Cause.WaitedMs = static_cast<uint32_t>(kWaitForBoard.count());
  AOutcome.Cause.SeenButClosed = seenButClosed;
  return false;
}

// The board that came back must answer, and not as the locked resident
// loader it left: a board that was unplugged or reset during the wait comes
// back under that one, and writing the firmware to it would be in vain.
bool TUpdateRun::Identify(TUpdateOutcome& AOutcome) {
  TBytes reply;
  FBsl->cmd_TxBslVersion(reply);
  TBslFailure failure = FBsl->LastFailure();
  const TBslAnswer answer = failure.Failed() ? TBslAnswer{} : ParseBslAnswer(reply);
  if (answer.Kind == TBslAnswer::Message && answer.Code == kBslMessageLocked) {
    AOutcome = Ending(TUpdateResult::WrongLoader);
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
  AOutcome = EndingAt(failure);
  return false;
}

// The chip's die record, through the RAM loader. A loader that refuses the
// command (or a chip without the record) leaves the ID empty and the
// update goes on; a board that does not answer, or answers what no loader
// answers, ends it, as at the version query.
bool TUpdateRun::ReadId(TUpdateOutcome& AOutcome) {
  TBslFailure failure;
  FBoardId = ReadBoardId(*FBsl, &failure);
  if (failure.Failed()) {
    AOutcome = EndingAt(failure);
    return false;
  }
  Log("Board ID: " + (FBoardId.empty() ? std::string("none (the loader does not tell)") : FBoardId), clBlack);
  if (!FBoardId.empty()) FEvents.Identified(FBoardId);
  return true;
}

// What the board now holds is compared with what was sent: the
// application image and the settings records over it.
TUpdateOutcome TUpdateRun::Finish() {
  bool verified = false;
  if (FOptions.Verify) {
    Enter(TUpdateStage::Verify);
    TVerifyPlan plan;
    plan.AddImage(*FFirmware);
    for (const TTiTxtRange& record : FSettingsSent) plan.Add(record.Address, record.Bytes);
    const TVerifyOutcome check = VerifyWritten(*FBsl, plan, [this](uint64_t ADone, uint64_t ATotal) {
      if (FCancelled.load()) throw TCancelledSignal{};  // between pieces
      FEvents.Progress({TUpdateStage::Verify, ADone, ATotal});
    });
    if (FCancelled.load()) throw TCancelledSignal{};  // a piece whose answer the cancel cut short
    if (check.Failed()) {
      Log(kNotCorrectText, clRed);
      TUpdateOutcome outcome =
          check.Result == TVerifyResult::Mismatch ? Ending(TUpdateResult::VerifyFailed) : EndingAt(check.Failure);
      outcome.Cause.Verify = check;
      return outcome;
    }
    verified = check.Result == TVerifyResult::Ok;
  }
  Enter(TUpdateStage::Done);
  FBsl.reset();
  Log(kSuccessText, clGreen);
  TUpdateOutcome outcome = Ending(verified ? TUpdateResult::Success : TUpdateResult::NotVerified);
  outcome.Verified = verified;
  return outcome;
}

}  // namespace

bool OpensForReports(TJvHidDevice* ADev, std::string& AWhy) {
  if (ADev->OpenReadWrite()) return true;
  AWhy = DeviceOpenErrorText(ADev->LastError());
  return false;
}

bool FindMyDevice(TJvHidDevice* AHidDev, const TLogMsg& ALog) {
  const hid::THidAttributes& a = AHidDev->Attributes();
  if (ALog) ALog(4, mtSystem, " xx - VID: " + Hex4(a.VendorID) + ", PID: " + Hex4(a.ProductID), clGreen);
  return IsBslBoard(a.VendorID, a.ProductID);
}

TUpdateEngine::TUpdateEngine(std::shared_ptr<TBoardPorts> APorts, std::shared_ptr<IUpdateEvents> AEvents,
                             TUpdateOptions AOptions)
    : FPorts(std::move(APorts)), FEvents(std::move(AEvents)), FOptions(std::move(AOptions)) {}

TUpdateOutcome TUpdateEngine::Run() {
  // The pauses of the update, and the window's pause after every image
  // line, are short and precise while it runs.
  const pacing::TFinePauses finePauses;
  const auto start = std::chrono::steady_clock::now();
  TUpdateRun run(FOptions, *FEvents, *FPorts, FCancelled);
  TUpdateOutcome outcome;
  // A receiver that fails to show something must not end the update early.
  const auto guarded = [](const auto& ACall) {
    try {
      ACall();
    } catch (...) {
    }
  };
  const auto log = [&](const std::string& AText, TColor AColor) {
    guarded([&] { FEvents->Log(0, mtDebug, FOptions.Name + AText, AColor); });
  };
  try {
    FEvents->Log(0, mtDebug, FOptions.Name + " - Start", clBlack);
    run.Enter(TUpdateStage::Images);
    outcome = run.Update();
  } catch (const TCancelledSignal&) {
    outcome = run.Ending(TUpdateResult::Cancelled);
  } catch (const std::exception& e) {
    log(std::string(" - Exception: ") + e.what(), clRed);
    outcome = run.Ending(TUpdateResult::Error, e.what());
  } catch (...) {
    log(" - Exception: unknown error", clRed);
    outcome = run.Ending(TUpdateResult::Error, "unknown error");
  }
  outcome.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  guarded([&] { FEvents->Ended(outcome); });
  guarded([&] { run.Release(); });
  log(" - End", clBlack);
  return outcome;
}

}  // namespace update
