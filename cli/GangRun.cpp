#include "GangRun.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "BoardPorts.h"
#include "NewBoards.h"
#include "UpdateCauseText.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr uint32_t kLoopSliceMs = 100;  // how soon Ctrl-C, an arrival and an end are seen

constexpr const char* kPortsUnknown =
    "the system does not tell the USB ports of the boards, so boards that come back under their "
    "new loader cannot be told apart; connect one board at a time";

std::string Seconds(double ASeconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", ASeconds);
  return text;
}

// One board's engine on the view and in the log.
class TGangEvents : public update::IUpdateEvents {
 public:
  TGangEvents(std::string APort, TGangView& AView, TCliLog* ALog, const update::TUpdateImage& ALoader,
              const update::TUpdateImage& AFirmware)
      : FPort(std::move(APort)), FView(AView), FLog(ALog) {
    FImages[0] = {"loader", BytesBeforeLines(ALoader)};
    FImages[1] = {"firmware", BytesBeforeLines(AFirmware)};
  }

  void Log(int32_t, TMessageType, const std::string& AMessage, TColor) override {
    if (FLog) FLog->Write("[" + update::PortText(FPort) + "] " + AMessage);
  }
  void Progress(int, int AActualLine, const std::string&) override {
    if (FImage < 0) return;
    const auto& image = FImages[FImage];
    const size_t line = std::min(static_cast<size_t>(std::max(AActualLine, 0)), image.BytesBefore.size() - 1);
    Amount(image.Name, image.BytesBefore[line], image.BytesBefore.back());
  }
  void Step(update::TUpdateStep AStep) override {
    using update::TUpdateStep;
    switch (AStep) {
      case TUpdateStep::Started: Stage("1. Upload bootloader", 0); break;
      case TUpdateStep::LoaderWritten: Stage("2. Wait for device", -1); break;
      case TUpdateStep::BoardBack: Stage("3. Upload new firmware & settings", 1); break;
      default: FImage = -1; break;
    }
  }
  void Message(update::TUpdateMessage, const update::TUpdateOutcome&) override {}
  void Activity(update::TUpdateActivity AKind, uint64_t ADone, uint64_t ATotal) override {
    if (AKind == update::TUpdateActivity::Verifying) {
      Amount("verify", ADone, ATotal);
      return;
    }
    const uint64_t left = (ATotal - std::min(ADone, ATotal) + 999) / 1000;
    FView.Progress(FPort, std::to_string(left) + " s left");
  }

 private:
  void Stage(const std::string& AText, int AImage) {
    FImage = AImage;
    FView.Stage(FPort, AText);
    Log(0, mtDebug, AText, clBlack);
  }
  void Amount(const std::string& APhase, uint64_t ADone, uint64_t ATotal) {
    const uint64_t done = std::min(ADone, ATotal);
    const unsigned percent = ATotal == 0 ? 100u : static_cast<unsigned>(done * 100 / ATotal);
    char text[96];
    std::snprintf(text, sizeof text, "%s %3u%% (%llu of %llu bytes)", APhase.c_str(), percent,
                  static_cast<unsigned long long>(done), static_cast<unsigned long long>(ATotal));
    FView.Progress(FPort, text);
  }
  struct TImageProgress {
    std::string Name;
    std::vector<size_t> BytesBefore;
  };
  const std::string FPort;
  TGangView& FView;
  TCliLog* FLog;
  TImageProgress FImages[2];
  int FImage = -1;  // being written: 0 loader, 1 firmware, -1 none
};

struct TBoardJob {
  std::string Port;
  update::TUpdateOptions Options;
  std::shared_ptr<update::TUpdateEngine> Engine;
  std::thread Worker;
  std::atomic<bool> Done{false};
  update::TUpdateOutcome Outcome;
  TClock::time_point Start;
};

class TGang {
 public:
  explicit TGang(const TGangSetup& ASetup) : S(ASetup) {}

  TGangEnd Run() {
    bool first = true;
    for (;;) {
      if (!S.Interrupted.load() && (first || S.Options.Repeat)) {
        const std::string refusal = StartNewBoards(first);
        if (!refusal.empty()) {
          FEnd.Refusal = refusal;
          return FEnd;
        }
        first = false;
      }
      if (FRunning.empty() && !S.Options.Repeat) break;
      S.Loop.RunFor(kLoopSliceMs);
      if (S.Interrupted.load())
        for (auto& [port, job] : FRunning) job->Engine->Cancel();
      S.View.Draw();
      EndFinished();
      if (FRunning.empty() && S.Interrupted.load()) break;
    }
    S.View.Draw();
    return FEnd;
  }

 private:
  // Every board under its loader that is new and not at a port in work.
  // At the first look, boards whose ports the system does not tell are
  // refused when there is more than one; later such a board waits until
  // it is the only one.
  std::string StartNewBoards(bool AFirst) {
    std::vector<update::TBoardSeen> found;
    {
      std::lock_guard<std::mutex> lock(update::BoardChoiceLock());
      found = update::BoardsPresent(*S.Controller, &FindNewBoardQuietly, S.Options.Ports);
    }
    std::erase_if(found, [this](const update::TBoardSeen& ABoard) { return FRunning.count(ABoard.Port) != 0; });
    const bool unknown = std::any_of(found.begin(), found.end(), [](const auto& ABoard) { return ABoard.Port.empty(); });
    if (unknown && (found.size() > 1 || !FRunning.empty())) {
      if (AFirst) return kPortsUnknown;
      if (!FToldUnknown) S.View.Line("kestrova-flash: " + std::string(kPortsUnknown));
      FToldUnknown = true;
      return {};
    }
    for (const update::TBoardSeen& board : found) Start(board.Port);
    return {};
  }

  void Start(const std::string& APort) {
    auto job = std::make_unique<TBoardJob>();
    job->Port = APort;
    job->Options = S.Update;
    job->Options.Ports = {APort};
    auto events = std::make_shared<TGangEvents>(APort, S.View, S.Log, *S.Update.Loader, *S.Update.Firmware);
    job->Engine = std::make_shared<update::TUpdateEngine>(S.Controller, events, job->Options);
    job->Start = TClock::now();
    TBoardJob* const running = job.get();
    hid::TPlainEventLoop& loop = S.Loop;
    job->Worker = std::thread([running, &loop] {
      running->Outcome = running->Engine->Run();
      running->Done.store(true);
      loop.Wake();
    });
    ++FEnd.Boards;
    FRunning.emplace(APort, std::move(job));
  }

  void EndFinished() {
    for (auto it = FRunning.begin(); it != FRunning.end();) {
      if (!it->second->Done.load()) {
        ++it;
        continue;
      }
      TBoardJob& job = *it->second;
      job.Worker.join();
      End(job);
      it = FRunning.erase(it);
    }
  }

  // The board's result everywhere; the board at its port counts as done
  // until it is unplugged.
  void End(const TBoardJob& AJob) {
    const update::TUpdateOutcome& outcome = AJob.Outcome;
    const double seconds = std::chrono::duration<double>(TClock::now() - AJob.Start).count();
    const bool ok = outcome.Result == update::TUpdateResult::Success && outcome.Verified;
    std::string text;
    if (ok) {
      FEnd.Updated += 1;
      text = "ok in " + Seconds(seconds) + (outcome.BoardId.empty() ? "" : ", ID " + outcome.BoardId);
    } else if (outcome.Result == update::TUpdateResult::Cancelled) {
      FEnd.Cancelled.push_back(AJob.Port);
      text = "cancelled after " + Seconds(seconds);
    } else {
      FEnd.Failed.push_back(AJob.Port);
      text = "FAILED: " + update::CauseLine(outcome);
    }
    S.View.Result(AJob.Port, text);
    if (S.Log) S.Log->Write("[" + update::PortText(AJob.Port) + "] " + text);
    if (S.Record && !S.Record->Append(RecordOf(outcome, seconds, AJob.Options, S.Options.Fast)))
      S.View.Line("kestrova-flash: the record of the board at " + update::PortText(AJob.Port) +
                  " could not be written");
    std::lock_guard<std::mutex> lock(update::BoardChoiceLock());
    for (const update::TBoardSeen& board : update::BoardsPresent(*S.Controller, &IsLoaderBoard, {AJob.Port}))
      MarkBoardDone(board.DeviceID);
  }

  const TGangSetup& S;
  std::map<std::string, std::unique_ptr<TBoardJob>> FRunning;  // by port
  TGangEnd FEnd;
  bool FToldUnknown = false;
};

}  // namespace

std::vector<size_t> BytesBeforeLines(const update::TUpdateImage& AImage) {
  std::vector<size_t> perLine(static_cast<size_t>(AImage.Checked.LineCount) + 1, 0);
  for (const TTiTxtSection& section : AImage.Checked.Sections)
    for (const TTiTxtDataLine& line : section.Lines) perLine[static_cast<size_t>(line.Line)] += line.Count;
  std::vector<size_t> before(perLine.size(), 0);
  for (size_t i = 1; i < perLine.size(); ++i) before[i] = before[i - 1] + perLine[i];
  return before;  // before[i]: bytes on lines 1..i, i.e. before 0-based line i
}

TGangEnd RunGang(const TGangSetup& ASetup) { return TGang(ASetup).Run(); }
