#include "UpdateEngine.h"

#include <tuple>

#include "BoardIds.h"
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

const char* const kSuccess = "Firmware & Settings were sucesfully uploaded!";
const char* const kLoaderFailure = "Bootloader upload failure!";
const char* const kNotCorrect =
    "The firmware on the board is not correct. Run the update again.";

// Thrown through the flasher when the update is cancelled: not an error.
struct TCancelledSignal {};

// The engine running on this thread, for FindMyDevice's log lines.
thread_local IUpdateEvents* tCurrentEvents = nullptr;

}  // namespace

const char* ResultName(TUpdateResult AResult) {
  switch (AResult) {
    case TUpdateResult::Success: return "success";
    case TUpdateResult::BadImage: return "bad image";
    case TUpdateResult::NoBoard: return "no board";
    case TUpdateResult::CannotOpen: return "board cannot be opened";
    case TUpdateResult::PasswordRefused: return "password refused";
    case TUpdateResult::BoardNotBack: return "board not back";
    case TUpdateResult::WriteFailed: return "write failed";
    case TUpdateResult::VerifyFailed: return "verification failed";
    case TUpdateResult::Error: return "error";
    case TUpdateResult::Cancelled: return "cancelled";
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

  TRun(TUpdateEngine& AEngine)
      : E(AEngine), Events(*AEngine.FEvents), Ctl(*AEngine.FController) {}

  TUpdateOutcome Update();
  bool ReadImages(TUpdateOutcome& AOutcome);
  void Connect();
  void InstallSettings();
  bool Write(const TUpdateImage& AImage);
  bool WaitForBoard();
  TUpdateOutcome Finish();
  void Release();

  TUpdateOutcome End(TUpdateResult AResult, std::string AText = {}) {
    return TUpdateOutcome{AResult, Stage, std::move(AText), false};
  }
  void Pause(std::chrono::milliseconds ADuration) {
    if (E.Cancelled()) throw TCancelledSignal{};
    E.FOptions.Timing.Sleep(ADuration);
    if (E.Cancelled()) throw TCancelledSignal{};
  }
  bool CheckOut() {
    TJvHidCheckCallback predicate = E.FOptions.Predicate ? E.FOptions.Predicate : &FindMyDevice;
    return Ctl.CheckOutByCallback(Dev, predicate);
  }
  void CheckIn() {
    if (Dev != nullptr) Ctl.CheckIn(Dev);
  }
};

TUpdateOutcome TUpdateEngine::TRun::Update() {
  TUpdateOutcome outcome;
  if (!ReadImages(outcome)) return outcome;
  if (E.Cancelled()) return End(TUpdateResult::Cancelled);
  if (!CheckOut()) return End(TUpdateResult::NoBoard, "No board under its loader was found.");
  std::string why;
  if (E.FOptions.CanOpen && !E.FOptions.CanOpen(Dev, why)) {
    Events.Log(0, mtDebug, why, clRed);
    Events.Message(TUpdateMessage::CannotOpen, why);
    return End(TUpdateResult::CannotOpen, why);
  }
  Connect();

  Bsl->cmd_SendPassword(BSL_Default_Password_erase);
  Pause(kAfterPassword);
  const bool unlocked = Bsl->cmd_SendPassword(BSL_Default_Password);
  Pause(kAfterPassword);
  const bool written = unlocked && Write(*Loader);
  if (!written) {
    Events.Step(TUpdateStep::LoaderFailed);
    Events.Message(TUpdateMessage::LoaderFailure, kLoaderFailure);
    return unlocked ? End(TUpdateResult::WriteFailed, "The loader image was not written.")
                    : End(TUpdateResult::PasswordRefused, "The board refused the password.");
  }
  Events.Step(TUpdateStep::LoaderWritten);
  Dev = Bsl->HidDev();
  CheckIn();
  Bsl->SetHidDev(nullptr);

  Stage = TImageRole::Firmware;
  if (!WaitForBoard())
    return End(TUpdateResult::BoardNotBack, "The board did not come back under its new loader.");
  Events.Step(TUpdateStep::BoardBack);
  Bsl->SetHidDev(Dev);
  InstallSettings();
  if (!Write(*Firmware)) return End(TUpdateResult::WriteFailed, "The firmware image was not written.");
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
      const std::string text = RefusalText(refusal);
      Events.Log(0, mtDebug, text, clRed);
      Events.Message(TUpdateMessage::ImageRefused, text);
      Stage = role;
      AOutcome = End(TUpdateResult::BadImage, text);
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

// The image's lines as checked, never the file again: what is sent is what
// was checked.
bool TUpdateEngine::TRun::Write(const TUpdateImage& AImage) {
  if (E.FOptions.Writer) return E.FOptions.Writer(*Bsl, AImage);
  Events.Log(0, mtDebug, "Begin flashing file \"" + AImage.FileName + "\".", clBlack);
  const bool result = Bsl->FlashHex(AImage.Lines);
  Events.Log(0, mtDebug, "End flashing file \"" + AImage.FileName + "\".", clBlack);
  return result;
}

// Every 500 ms for up to 60 s: the board leaves the bus when the RAM
// loader starts and comes back as a new device with the same identifiers.
// An old entry that still matches cannot be opened and goes back.
bool TUpdateEngine::TRun::WaitForBoard() {
  const TUpdateTiming& t = E.FOptions.Timing;
  const auto timeout = t.Now() + kWaitForBoard;
  while (t.Now() < timeout) {
    Pause(kPollInterval);
    if (!CheckOut()) continue;
    if (Dev->OpenFile()) return true;
    CheckIn();
  }
  return false;
}

// What the board now holds is compared with what was sent: the
// application image and the settings records over it.
TUpdateOutcome TUpdateEngine::TRun::Finish() {
  bool verified = false;
  if (E.FOptions.Verify) {
    TVerifyPlan plan;
    plan.AddImage(Firmware->Checked);
    for (const TImageRange& record : SettingsSent) plan.Add(record.Address, record.Bytes);
    const TVerifyOutcome check = VerifyWritten(*Bsl, plan);
    if (check.Failed()) {
      Events.Log(0, mtDebug, kNotCorrect, clRed);
      Events.Step(TUpdateStep::VerifyFailed);
      Events.Message(TUpdateMessage::VerifyFailed, kNotCorrect);
      return End(TUpdateResult::VerifyFailed, kNotCorrect);
    }
    verified = check.Result == TVerifyResult::Ok;
  }
  Bsl.reset();
  Events.Log(0, mtDebug, kSuccess, clGreen);
  Events.Step(TUpdateStep::FirmwareWritten);
  Events.Message(TUpdateMessage::Success, kSuccess);
  TUpdateOutcome outcome = End(TUpdateResult::Success);
  outcome.Verified = verified;
  return outcome;
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
