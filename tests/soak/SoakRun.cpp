#include "SoakRun.h"

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "PumpLoop.h"
#include "SimBus.h"
#include "SoakImages.h"
#include "UpdateCauseText.h"

namespace soak {

namespace {

using namespace std::chrono_literals;
using update::TUpdateResult;

// Keeps the last lines of the log, for a run that fails.
class TSoakEvents : public update::IUpdateEvents {
 public:
  void Log(int32_t, TMessageType, const std::string& AMessage, TColor) override {
    Lines.push_back(AMessage);
    if (Lines.size() > kKept) Lines.pop_front();
  }
  void Progress(const update::TUpdateProgress&) override {}
  void Ended(const update::TUpdateOutcome&) override {}

  static constexpr size_t kKept = 40;
  std::deque<std::string> Lines;
};

// The bus with its controller and the board, set up and taken down around
// one update.
struct TWorld {
  explicit TWorld(const sim::TSimBoardOptions& AOptions) {
    hid::SetEventLoop(&Loop);
    Controller = std::make_shared<TJvHidDeviceController>(nullptr, &Bus);
    Controller->SetOnDeviceChange([](TJvHidDeviceController*) {});
    Board = std::make_shared<sim::TSimBoard>(AOptions);
    Board->PlugInto(Bus);
    Loop.Pump();
  }
  ~TWorld() {
    Settle();
    Controller.reset();
    Board->Unplug();
    Board.reset();
    hid::SetEventLoop(nullptr);
  }
  // After Load PC the board leaves on its own timer, a moment later: the
  // engine's next look must find it gone, as it would a real board after
  // half a second.
  void Settle() {
    const auto limit = std::chrono::steady_clock::now() + 2s;
    while (Board->State() == sim::TBoardState::Away && Bus.IsPlugged(Board.get()) &&
           std::chrono::steady_clock::now() < limit)
      std::this_thread::sleep_for(100us);
  }

  TPumpLoop Loop;  // the engine's pauses pump it, as the window's loop would run
  sim::TSimBus Bus;
  std::shared_ptr<TJvHidDeviceController> Controller;
  std::shared_ptr<sim::TSimBoard> Board;
};

// Something the technician or the cable does during the wait, in
// milliseconds after it began; at the same moment, in list order.
struct TWaitEvent {
  uint64_t AtMs;
  std::function<void(sim::TSimBoard&)> Do;
};

std::vector<TWaitEvent> WaitEvents(const TSetup& ASetup, const std::vector<TFault>& AFaults) {
  std::vector<TWaitEvent> events;
  uint64_t returnAt = ASetup.ReturnMs;
  for (const TFault& f : AFaults) {
    if (f.Kind == TFaultKind::LateReturn) returnAt = f.Value;
    if (f.Kind == TFaultKind::UnplugInWait || f.Kind == TFaultKind::UnplugAfterReturn)
      events.push_back({f.Value, [](sim::TSimBoard& b) { b.Unplug(); }});
    if (f.Kind == TFaultKind::UnplugInWait && f.Replug != 0)
      events.push_back({f.Replug, [](sim::TSimBoard& b) { b.Replug(); }});
  }
  events.push_back({returnAt, [](sim::TSimBoard& b) { b.Return(); }});
  std::stable_sort(events.begin(), events.end(),
                   [](const TWaitEvent& A, const TWaitEvent& B) { return A.AtMs < B.AtMs; });
  return events;
}

struct TImageSet {
  std::shared_ptr<const TTiTxtImage> Loader, Firmware;
  update::TSettingsTexts Settings;
};

bool MemoryMatches(const sim::TSimBoard& ABoard, const TImageSet& AImages) {
  for (const auto* image : {AImages.Loader.get(), AImages.Firmware.get()})
    for (const TTiTxtRange& range : image->Ranges())
      if (ABoard.ReadMemory(range.Address, range.Bytes.size()) != range.Bytes) return false;
  for (int i = 0; i < update::kSettingsRecords; ++i) {
    const TBytes record = update::SettingsRecord(AImages.Settings[static_cast<size_t>(i)]);
    if (ABoard.ReadMemory(update::SettingsRecordAddress(i), record.size()) != record) return false;
  }
  return true;
}

struct TFlash {
  update::TUpdateOutcome Outcome;
  TTrace Trace;
  bool Memory = false;
  int CheckedOut = 0;
  double Seconds = 0;
  std::vector<std::string> Lines;
};

// One update with AFaults, the engine's clock virtual: a pause moves it on
// at once, plays what the wait holds and lets the bus's news arrive.
TFlash Flash(const TImageSet& AImages, const TSetup& ASetup, const std::vector<TFault>& AFaults) {
  sim::TSimBoardOptions board;
  board.HoldReturn = true;
  board.UnknownCommands = ASetup.UnknownCommands;
  ApplyFaults(AFaults, board);
  TWorld world(board);

  uint64_t now = 0;
  std::optional<uint64_t> waitBegan;
  std::vector<TWaitEvent> pending;
  std::vector<std::pair<uint32_t, uint64_t>> marks;  // reports sent by then, the clock after a pause
  update::TUpdateOptions options;
  options.Loader = AImages.Loader;
  options.Firmware = AImages.Firmware;
  options.Settings = AImages.Settings;
  options.Name = "Soak";
  options.AnswerTimeoutMs = kAnswerTimeoutMs;
  options.LateAnswerGraceMs = kLateGraceMs;
  if (ASetup.Fast) {
    options.BlockBytes = kWriteFullReports;
    options.SettingsPause = 0ms;
  }
  options.Timing.Now = [&now] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(now)); };
  options.Timing.Sleep = [&](std::chrono::milliseconds ADuration) {
    world.Settle();
    if (!waitBegan && world.Board->AwaitingReturn()) {
      waitBegan = now;  // no pause comes between Load PC and the wait
      pending = WaitEvents(ASetup, AFaults);
    }
    now += static_cast<uint64_t>(ADuration.count());
    while (!pending.empty() && *waitBegan + pending.front().AtMs <= now) {
      pending.front().Do(*world.Board);
      pending.erase(pending.begin());
    }
    world.Loop.Pump();
    marks.push_back({world.Board->ReportsReceived(), now});
  };

  auto events = std::make_shared<TSoakEvents>();
  update::TUpdateEngine engine(std::make_shared<update::TBoardPorts>(world.Controller), events, options);
  const auto start = std::chrono::steady_clock::now();
  TFlash flash;
  flash.Outcome = engine.Run();
  flash.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  flash.Trace.Reports = world.Board->ReportLog();
  flash.Trace.Stages = StagesOf(flash.Trace.Reports);
  flash.Trace.WaitBegan = waitBegan.value_or(0);
  for (uint32_t report = 1; report <= flash.Trace.Reports.size(); ++report) {
    uint64_t at = 0;  // the clock as the last pause before the report left it
    for (const auto& [sent, clock] : marks)
      if (sent < report) at = clock;
    flash.Trace.At.push_back(at);
  }
  flash.Memory = MemoryMatches(*world.Board, AImages);
  flash.CheckedOut = world.Controller->NumCheckedOutDevices();
  flash.Lines.assign(events->Lines.begin(), events->Lines.end());
  return flash;
}

std::shared_ptr<const TTiTxtImage> Checked(const std::string& AName, TTiTxtImageKind AKind,
                                           const std::vector<std::string>& ALines) {
  try {
    return std::make_shared<TTiTxtImage>(CheckTiTxtImage(ALines, AKind, AName));
  } catch (const ETiTxtImageError& e) {
    throw std::logic_error(std::string("a generated image was refused: ") + e.what());
  }
}

// How the outcome differs from what the table says.
void Compare(const TExpected& AExpected, const update::TUpdateOutcome& AOutcome, std::vector<std::string>& AProblems) {
  const std::string got = std::string(update::ResultName(AOutcome.Result)) + " in " +
                          update::StageName(AOutcome.Stage) + " (" + update::CauseLine(AOutcome) + ")";
  const std::string want = std::string(update::ResultName(AExpected.Result)) + " in " + update::StageName(AExpected.Stage) +
                           " from " + AExpected.Decider;
  if (AOutcome.Result != AExpected.Result) {
    AProblems.push_back("ended " + got + "; the table says " + want);
  } else if (AOutcome.Result == TUpdateResult::Success || AOutcome.Result == TUpdateResult::NotVerified) {
    if (AOutcome.Verified != AExpected.Verified)
      AProblems.push_back(std::string("written ") + (AOutcome.Verified ? "and verified" : "but not verified") +
                          "; the table says otherwise");
  } else if (AOutcome.Stage != AExpected.Stage) {
    AProblems.push_back("ended " + got + "; the table says " + want);
  } else if (AExpected.Late && (AOutcome.Cause.Failure.LateAfterMs > 0) != *AExpected.Late) {
    AProblems.push_back("ended " + got + "; the table says the answer came " + (*AExpected.Late ? "late" : "never"));
  } else if (AExpected.BytesSent && AOutcome.Cause.BytesSent != *AExpected.BytesSent) {
    AProblems.push_back("ended " + got + "; the table says after " + std::to_string(*AExpected.BytesSent) + " bytes");
  }
}

}  // namespace

TRunReport RunOnce(uint64_t ASeed, uint64_t ARun) {
  std::seed_seq seed{static_cast<uint32_t>(ASeed), static_cast<uint32_t>(ASeed >> 32), static_cast<uint32_t>(ARun)};
  std::mt19937 random(seed);
  const TImages images = RandomImages(random);
  TImageSet set{Checked("loader.txt", TTiTxtImageKind::Loader, images.Loader),
                Checked("firmware.txt", TTiTxtImageKind::Application, images.Firmware), images.Settings};
  TRunReport report;
  report.Setup = RandomSetup(random);

  const TFlash clean = Flash(set, report.Setup, {});
  const TExpected cleanExpected = Predict(report.Setup, {}, clean.Trace);
  Compare(cleanExpected, clean.Outcome, report.Problems);
  if (!report.Problems.empty() || !clean.Memory) {
    report.Problems.insert(report.Problems.begin(), "the run without faults failed");
    report.Outcome = clean.Outcome;
    report.LastLines = clean.Lines;
    return report;
  }

  report.Faults = RandomFaults(random, report.Setup, clean.Trace);
  report.Expected = Predict(report.Setup, report.Faults, clean.Trace);
  const TFlash faulty = Flash(set, report.Setup, report.Faults);
  report.Outcome = faulty.Outcome;
  report.MemoryMatches = faulty.Memory;
  report.Seconds = faulty.Seconds;
  report.LastLines = faulty.Lines;
  Compare(report.Expected, faulty.Outcome, report.Problems);
  if (faulty.Outcome.Result == TUpdateResult::Success && faulty.Outcome.Verified && !faulty.Memory)
    report.Problems.push_back("SUCCESS REPORTED FOR A BOARD THAT DIFFERS FROM THE IMAGES");
  if (faulty.CheckedOut != 0) report.Problems.push_back("the board was not returned to the controller");
  if (faulty.Seconds > kRunBoundSeconds)
    report.Problems.push_back("took " + std::to_string(faulty.Seconds) + " s, more than the bound");
  return report;
}

}  // namespace soak
