#include "SoakPlan.h"

#include <algorithm>

#include "BslProtocol.h"

namespace soak {

namespace {

using update::TUpdateStage;
using update::TUpdateResult;
using TRandom = std::mt19937;

constexpr uint8_t kPassword = kBslRxPassword;
constexpr uint8_t kCrcCheck = kBslCrcCheck;
constexpr uint8_t kLoadPc = kBslLoadPC;
constexpr uint8_t kReadBack = kBslTxDataBlock;
constexpr uint8_t kVersion = kBslTxBslVersion;
constexpr uint8_t kFastWrite = kBslRxDataBlockFast;
constexpr uint32_t kReport = 64;             // bytes of the loader's reports
constexpr uint32_t kPollMs = 500;            // the engine looks for the board this often
constexpr uint32_t kWaitMs = 60000;          // and this long
constexpr uint32_t kSmallDelayMs = 2;        // an answer delay well inside the timeout

uint32_t Uniform(TRandom& ARandom, uint32_t ALow, uint32_t AHigh) {
  return std::uniform_int_distribution<uint32_t>(ALow, AHigh)(ARandom);
}

bool Chance(TRandom& ARandom, double AProbability) { return std::bernoulli_distribution(AProbability)(ARandom); }

// The poll (counted from 1) at which something that happens AMs into the
// wait is seen.
uint32_t PollOf(uint32_t AMs) { return std::max<uint32_t>(1, (AMs + kPollMs - 1) / kPollMs); }

// The clean run's reports, 1-based, with what the faults need to know.
class TReports {
 public:
  explicit TReports(const TTrace& ATrace) : T(ATrace) {
    for (size_t i = 0; i < T.Reports.size(); ++i) {
      if (T.Reports[i].Command == kLoadPc && LoadPc == 0) LoadPc = static_cast<uint32_t>(i + 1);
      if (T.Stages[i] == TUpdateStage::Verify && VerifyFrom == 0) VerifyFrom = static_cast<uint32_t>(i + 1);
    }
  }
  uint32_t Count() const { return static_cast<uint32_t>(T.Reports.size()); }
  uint8_t Command(uint32_t AIndex) const { return T.Reports[AIndex - 1].Command; }
  TUpdateStage Stage(uint32_t AIndex) const { return T.Stages[AIndex - 1]; }
  bool Answered(uint32_t AIndex) const {
    const uint8_t c = Command(AIndex);
    return c == kPassword || c == kVersion || c == kCrcCheck || c == kReadBack;
  }
  // The answer decides something: not that of a version line in an image.
  bool Examined(uint32_t AIndex) const {
    const bool inImage = Stage(AIndex) == TUpdateStage::Loader || Stage(AIndex) == TUpdateStage::Firmware;
    return Answered(AIndex) && !(inImage && Command(AIndex) == kVersion);
  }
  // Where an image's writing ends: its failed reports are told then.
  double ImageEnd(TUpdateStage AStage) const {
    return (AStage == TUpdateStage::Loader ? LoadPc : VerifyFrom - 1) + 0.9;
  }
  double WaitKey() const { return LoadPc + 0.95; }
  // The AN-th fast write of the firmware stage, 0 when there are fewer.
  uint32_t FirmwareFastWrite(uint32_t AN) const {
    uint32_t seen = 0;
    for (uint32_t i = 1; i <= Count(); ++i)
      if (Stage(i) == TUpdateStage::Firmware && Command(i) == kFastWrite && ++seen == AN) return i;
    return 0;
  }
  uint32_t FirmwareFastWrites() const {
    uint32_t n = 0;
    for (uint32_t i = 1; i <= Count(); ++i) n += Stage(i) == TUpdateStage::Firmware && Command(i) == kFastWrite;
    return n;
  }

  const TTrace& T;
  uint32_t LoadPc = 0;
  uint32_t VerifyFrom = 0;
};

// Where and how a fault ends the run: the smallest key wins. Keys order
// what happens at one report: its write fails (+0), it arrives cut (+0.1),
// the board leaves right after it (+0.15), its answer is spoilt (+0.2).
struct TEnd {
  double Key = 0;
  TExpected Outcome;
};

TEnd Ends(double AKey, TUpdateResult AResult, TUpdateStage AStage, const TFault& AFault) {
  TEnd end{AKey, {}};
  end.Outcome.Result = AResult;
  end.Outcome.Stage = AStage;
  end.Outcome.Verified = false;
  end.Outcome.Decider = FaultText(AFault);
  if (AResult == TUpdateResult::NoAnswer)
    end.Outcome.Late = AFault.Kind == TFaultKind::LateAnswer || AFault.Kind == TFaultKind::AnswerDelay;
  return end;
}

// What one fault does to a run on its own; nothing when it cannot touch it.
std::optional<TEnd> EndOf(const TFault& F, const TReports& R, const TTrace& ATrace, bool AVerifiable) {
  const uint32_t at = F.Value;
  const bool exists = at >= 1 && at <= R.Count();
  switch (F.Kind) {
    // The refusal is the second password's answer: spoilt (+0.2), it says nothing.
    case TFaultKind::RefusePassword: return Ends(2.25, TUpdateResult::PasswordRefused, TUpdateStage::Unlock, F);
    case TFaultKind::NoAnswer: return Ends(1.2, TUpdateResult::NoAnswer, TUpdateStage::Unlock, F);
    case TFaultKind::AnswerDelay:
      if (at <= kSmallDelayMs) return std::nullopt;
      return Ends(1.2, TUpdateResult::NoAnswer, TUpdateStage::Unlock, F);
    case TFaultKind::ShortWrite:
      if (at >= kReport) return std::nullopt;
      return Ends(1.1, TUpdateResult::WriteFailed, TUpdateStage::Unlock, F);
    case TFaultKind::DropAfter: {
      if (!exists) return std::nullopt;
      if (at == R.LoadPc) return Ends(R.WaitKey(), TUpdateResult::BoardNotBack, TUpdateStage::Wait, F);
      // The answer to the last report is lost with the board; without one,
      // the next report finds it gone.
      const uint32_t failing = R.Answered(at) ? at : at + 1;
      return Ends(R.Answered(at) ? at + 0.15 : failing, TUpdateResult::BoardLeft, R.Stage(failing), F);
    }
    case TFaultKind::CutReport: {
      if (!exists) return std::nullopt;
      const TUpdateStage stage = R.Stage(at);
      const bool image = stage == TUpdateStage::Loader || stage == TUpdateStage::Firmware;
      return Ends(image ? R.ImageEnd(stage) : at + 0.1, TUpdateResult::WriteFailed, stage, F);
    }
    case TFaultKind::SilentAt:
    case TFaultKind::LateAnswer:
      if (!exists || !R.Examined(at)) return std::nullopt;
      return Ends(at + 0.2, TUpdateResult::NoAnswer, R.Stage(at), F);
    case TFaultKind::GarbleAnswer:
    case TFaultKind::WrongLength:
      if (!exists || !R.Examined(at)) return std::nullopt;
      return Ends(at + 0.2, TUpdateResult::BadAnswer, R.Stage(at), F);
    case TFaultKind::UnplugAt:
      if (!exists) return std::nullopt;
      return Ends(at, TUpdateResult::BoardLeft, R.Stage(at), F);
    case TFaultKind::LoseWrite: {
      const uint32_t report = R.FirmwareFastWrite(at);
      if (report == 0 || ATrace.Reports[report - 1].Erased) return std::nullopt;  // nothing there to lose
      if (!AVerifiable) return std::nullopt;  // written and not verified, as without the fault
      return Ends(R.Count() + 0.5, TUpdateResult::VerifyFailed, TUpdateStage::Verify, F);
    }
    case TFaultKind::NoReturn:
    case TFaultKind::LateReturn: return Ends(R.WaitKey(), TUpdateResult::BoardNotBack, TUpdateStage::Wait, F);
    case TFaultKind::ReturnResident:  // told by the answer to the question for the loader, unless spoilt
      return Ends(R.LoadPc + 1.25, TUpdateResult::WrongLoader, TUpdateStage::Identify, F);
    case TFaultKind::UnplugInWait:
      // Power gone, the return with it: back only when plugged in again,
      // and then under the resident loader.
      if (F.Replug == 0 || F.Replug > kWaitMs)
        return Ends(R.WaitKey(), TUpdateResult::BoardNotBack, TUpdateStage::Wait, F);
      return Ends(R.LoadPc + 1.25, TUpdateResult::WrongLoader, TUpdateStage::Identify, F);
    case TFaultKind::UnplugAfterReturn:
      for (uint32_t i = R.LoadPc + 1; i <= R.Count(); ++i)
        if (ATrace.At[i - 1] >= ATrace.WaitBegan + F.Value) return Ends(i, TUpdateResult::BoardLeft, R.Stage(i), F);
      return std::nullopt;
  }
  return std::nullopt;
}

// Data bytes of AStage's fast writes that went out whole before report AFailing.
uint64_t BytesBefore(const TReports& R, TUpdateStage AStage, uint32_t AFailing, const std::vector<TFault>& AFaults) {
  uint64_t bytes = 0;
  for (uint32_t i = 1; i < AFailing; ++i) {
    if (R.Stage(i) != AStage) continue;
    const bool cut = std::any_of(AFaults.begin(), AFaults.end(), [i](const TFault& f) {
      return f.Kind == TFaultKind::CutReport && f.Value == i;
    });
    if (!cut) bytes += R.T.Reports[i - 1].DataBytes;
  }
  return bytes;
}

// A report position: mostly among the run's reports, sometimes past them.
uint32_t RandomReport(TRandom& ARandom, const TReports& R) { return Uniform(ARandom, 1, R.Count() + 8); }

// For a fault of the answers: most reports are fast writes, which have
// none, so more than half the time one of the reports that are answered.
uint32_t RandomAnswered(TRandom& ARandom, const TReports& R) {
  std::vector<uint32_t> answered;
  for (uint32_t i = 1; i <= R.Count(); ++i)
    if (R.Answered(i)) answered.push_back(i);
  if (answered.empty() || Chance(ARandom, 0.4)) return RandomReport(ARandom, R);
  return answered[Uniform(ARandom, 0, static_cast<uint32_t>(answered.size() - 1))];
}

TFault RandomFault(TRandom& ARandom, const TSetup& ASetup, const TReports& R) {
  const auto kind = static_cast<TFaultKind>(Uniform(ARandom, 0, kFaultKinds - 1));
  TFault f{kind, 0, 0};
  switch (kind) {
    case TFaultKind::AnswerDelay: f.Value = Chance(ARandom, 0.5) ? kSmallDelayMs : kLateByMs; break;
    case TFaultKind::ShortWrite: f.Value = Chance(ARandom, 0.8) ? Uniform(ARandom, 0, kReport - 1) : kReport; break;
    case TFaultKind::LoseWrite: f.Value = Uniform(ARandom, 1, R.FirmwareFastWrites() + 3); break;
    case TFaultKind::LateReturn: f.Value = Uniform(ARandom, kWaitMs + 1, kWaitMs + 10000); break;
    case TFaultKind::UnplugInWait: {
      // Before the board is back: at an earlier poll than its return, or
      // at the same one but sooner (the run plays them in time order).
      f.Value = Uniform(ARandom, 0, ASetup.ReturnMs);
      if (Chance(ARandom, 0.7)) f.Replug = Uniform(ARandom, (PollOf(f.Value) + 1) * kPollMs, kWaitMs + 5000);
      break;
    }
    case TFaultKind::UnplugAfterReturn:
      // After the poll that found the board: during the pauses before the
      // settings records (line by line), or after the update.
      f.Value = PollOf(ASetup.ReturnMs) * kPollMs + Uniform(ARandom, 1, 400);
      break;
    case TFaultKind::SilentAt:
    case TFaultKind::LateAnswer:
    case TFaultKind::GarbleAnswer:
    case TFaultKind::WrongLength: f.Value = RandomAnswered(ARandom, R); break;
    case TFaultKind::RefusePassword:
    case TFaultKind::NoAnswer:
    case TFaultKind::NoReturn:
    case TFaultKind::ReturnResident: break;
    default: f.Value = RandomReport(ARandom, R); break;
  }
  return f;
}

bool AtReport(TFaultKind AKind) {
  switch (AKind) {
    case TFaultKind::DropAfter:
    case TFaultKind::CutReport:
    case TFaultKind::SilentAt:
    case TFaultKind::LateAnswer:
    case TFaultKind::GarbleAnswer:
    case TFaultKind::WrongLength:
    case TFaultKind::UnplugAt: return true;
    default: return false;
  }
}

// Faults of the wait: at most one, and none with a board that never returns.
bool OfTheWait(TFaultKind AKind) {
  return AKind == TFaultKind::NoReturn || AKind == TFaultKind::LateReturn || AKind == TFaultKind::UnplugInWait ||
         AKind == TFaultKind::UnplugAfterReturn || AKind == TFaultKind::ReturnResident;
}

// Two faults that meet at one report, or two of the wait, would make the
// table guess which comes first; such a pair is drawn again.
bool Clash(const TFault& A, const TFault& B, const TReports& R) {
  if (A.Kind == B.Kind) return true;
  // A board that never answers, or answers everything late, shows it at
  // the unlock request, whatever else is done to its answers: which fault
  // is seen depends on the wait, not on the table.
  const auto ofEveryAnswer = [](const TFault& F) {
    return F.Kind == TFaultKind::NoAnswer || F.Kind == TFaultKind::AnswerDelay;
  };
  const auto ofAnAnswer = [&](const TFault& F) {
    return ofEveryAnswer(F) || F.Kind == TFaultKind::RefusePassword || F.Kind == TFaultKind::SilentAt ||
           F.Kind == TFaultKind::LateAnswer || F.Kind == TFaultKind::GarbleAnswer ||
           F.Kind == TFaultKind::WrongLength;
  };
  if ((ofEveryAnswer(A) && ofAnAnswer(B)) || (ofEveryAnswer(B) && ofAnAnswer(A))) return true;
  if (AtReport(A.Kind) && AtReport(B.Kind) && (A.Value == B.Value || A.Value + 1 == B.Value || B.Value + 1 == A.Value))
    return true;
  // A drop at Load PC ends in the wait as well.
  const auto inTheWait = [&R](const TFault& F) {
    return OfTheWait(F.Kind) || (F.Kind == TFaultKind::DropAfter && F.Value == R.LoadPc);
  };
  return inTheWait(A) && inTheWait(B);
}

}  // namespace

const char* FaultName(TFaultKind AKind) {
  static const char* const kNames[kFaultKinds] = {
      "refuse-password", "no-answer",     "answer-delay", "short-write",    "drop-after",
      "cut-report",      "silent-at",     "late-answer",  "garble-answer",  "wrong-length",
      "unplug-at",       "lose-write",    "no-return",    "return-as=resident", "late-return",
      "unplug-in-wait",  "unplug-after-return"};
  return kNames[static_cast<int>(AKind)];
}

std::string FaultText(const TFault& AFault) {
  std::string text = FaultName(AFault.Kind);
  switch (AFault.Kind) {
    case TFaultKind::RefusePassword:
    case TFaultKind::NoAnswer:
    case TFaultKind::NoReturn:
    case TFaultKind::ReturnResident: return text;
    case TFaultKind::UnplugInWait:
      return text + "=" + std::to_string(AFault.Value) + "ms" +
             (AFault.Replug ? ",replug=" + std::to_string(AFault.Replug) + "ms" : std::string());
    case TFaultKind::LateReturn:
    case TFaultKind::UnplugAfterReturn:
    case TFaultKind::AnswerDelay: return text + "=" + std::to_string(AFault.Value) + "ms";
    default: return text + "=" + std::to_string(AFault.Value);
  }
}

std::vector<TUpdateStage> StagesOf(const std::vector<sim::TReportRecord>& AReports) {
  std::vector<TUpdateStage> stages;
  TUpdateStage stage = TUpdateStage::Unlock;
  for (size_t i = 0; i < AReports.size(); ++i) {
    const uint8_t command = AReports[i].Command;
    if (i == 2) stage = TUpdateStage::Loader;
    if (stage == TUpdateStage::Firmware && (command == kCrcCheck || command == kReadBack))
      stage = TUpdateStage::Verify;
    stages.push_back(stage);
    // After Load PC: the question for the loader, then the reads of the
    // board's ID.
    const bool idReadNext = i + 1 < AReports.size() && AReports[i + 1].Command == kReadBack;
    if (stage == TUpdateStage::Loader && command == kLoadPc)
      stage = TUpdateStage::Identify;
    else if (stage == TUpdateStage::Identify && !idReadNext)
      stage = TUpdateStage::Firmware;
  }
  return stages;
}

TSetup RandomSetup(TRandom& ARandom) {
  TSetup setup;
  setup.Fast = Chance(ARandom, 0.5);
  const uint32_t loader = Uniform(ARandom, 0, 9);  // most RAM loaders know every command
  if (loader == 0) setup.UnknownCommands = {kCrcCheck};
  if (loader == 1) setup.UnknownCommands = {kCrcCheck, kReadBack};
  if (loader == 2) setup.UnknownCommands = {kVersion};
  setup.ReturnMs = Uniform(ARandom, 0, kWaitMs);
  return setup;
}

std::vector<TFault> RandomFaults(TRandom& ARandom, const TSetup& ASetup, const TTrace& ATrace) {
  const TReports reports(ATrace);
  const uint32_t count = Chance(ARandom, 0.1) ? 0 : Chance(ARandom, 0.75) ? 1 : 2;
  std::vector<TFault> faults;
  while (faults.size() < count) {
    const TFault fault = RandomFault(ARandom, ASetup, reports);
    if (faults.empty() || !Clash(faults[0], fault, reports)) faults.push_back(fault);
  }
  return faults;
}

void ApplyFaults(const std::vector<TFault>& AFaults, sim::TSimBoardOptions& AOptions) {
  for (const TFault& f : AFaults) {
    switch (f.Kind) {
      case TFaultKind::RefusePassword: AOptions.RefusePassword = true; break;
      case TFaultKind::NoAnswer: AOptions.NoAnswer = true; break;
      case TFaultKind::AnswerDelay: AOptions.AnswerDelayMs = f.Value; break;
      case TFaultKind::ShortWrite: AOptions.ShortWrite = f.Value; break;
      case TFaultKind::DropAfter: AOptions.DropAfterReports = f.Value; break;
      case TFaultKind::CutReport: AOptions.CutReport = f.Value; break;
      case TFaultKind::SilentAt: AOptions.SilentAt = f.Value; break;
      case TFaultKind::LateAnswer:
        AOptions.LateAt = f.Value;
        AOptions.LateByMs = kLateByMs;
        break;
      case TFaultKind::GarbleAnswer: AOptions.GarbleAt = f.Value; break;
      case TFaultKind::WrongLength: AOptions.WrongLengthAt = f.Value; break;
      case TFaultKind::UnplugAt: AOptions.UnplugAt = f.Value; break;
      case TFaultKind::LoseWrite: AOptions.LoseWrite = f.Value; break;
      case TFaultKind::NoReturn: AOptions.NoReturn = true; break;
      case TFaultKind::ReturnResident: AOptions.ReturnResident = true; break;
      default: break;  // the wait's faults are the run's to play
    }
  }
}

TExpected Predict(const TSetup& ASetup, const std::vector<TFault>& AFaults, const TTrace& ATrace) {
  const TReports reports(ATrace);
  // A loader that knows neither CRC Check nor TX Data Block cannot compare memory.
  const auto& unknown = ASetup.UnknownCommands;
  const bool verifiable = !(std::count(unknown.begin(), unknown.end(), kCrcCheck) &&
                            std::count(unknown.begin(), unknown.end(), kReadBack));
  std::optional<TEnd> first;
  for (const TFault& fault : AFaults) {
    const std::optional<TEnd> end = EndOf(fault, reports, ATrace, verifiable);
    if (end && (!first || end->Key < first->Key)) first = end;
  }
  if (!first) {
    TExpected success;
    success.Result = verifiable ? TUpdateResult::Success : TUpdateResult::NotVerified;
    success.Verified = verifiable;
    success.Decider = AFaults.empty() ? "none" : "none that touches the board";
    return success;
  }
  TExpected expected = first->Outcome;
  const bool image = expected.Stage == TUpdateStage::Loader || expected.Stage == TUpdateStage::Firmware;
  if (expected.Result == TUpdateResult::BoardLeft && image)
    expected.BytesSent = BytesBefore(reports, expected.Stage, static_cast<uint32_t>(first->Key), AFaults);
  return expected;
}

}  // namespace soak
