#include "GangRun.h"

#include <algorithm>

#include "ExitCodes.h"
#include "UpdateCauseText.h"

namespace {

constexpr const char* kPortsUnknown =
    "the system does not tell the USB ports of the boards, so boards that come back under their "
    "new loader cannot be told apart; connect one board at a time";

class TGang {
 public:
  explicit TGang(const TGangSetup& ASetup) : FSetup(ASetup) {}

  TGangEnd Run() {
    bool first = true;
    for (;;) {
      // Once the serials have ended, no board that comes later can be updated.
      const bool more = FSetup.Options.Repeat && !FSerialsEnded;
      if (!FSetup.Interrupted() && (first || more || !FWaiting.empty())) {
        FEnd.Refusal = StartNewBoards(first);
        if (!FEnd.Refusal.empty()) return FEnd;
        first = false;
      }
      if (FSetup.Interrupted()) LeaveWaiting("stopped by Ctrl-C while waiting for its serial");
      if (FSetup.Runs.Empty() && FWaiting.empty() && !(FSetup.Options.Repeat && !FSerialsEnded)) break;
      for (const TBoardEnd& end : FSetup.Runs.Turn(FSetup.Interrupted())) Ended(end);
      FSetup.View.Draw();
      if (FSetup.Runs.Empty() && FSetup.Interrupted()) break;
    }
    FSetup.View.Draw();
    return FEnd;
  }

 private:
  // Every board under its loader that is new and not at a port in work.
  // At the first look, boards whose ports the system does not tell are
  // refused when there is more than one; later such a board waits until
  // it is the only one.
  std::string StartNewBoards(bool AFirst) {
    std::vector<update::TBoardSeen> found = FSetup.NewBoards();
    std::erase_if(found, [this](const update::TBoardSeen& ABoard) { return FSetup.Runs.Running(ABoard.Port); });
    const bool unknown = std::any_of(found.begin(), found.end(), [](const auto& ABoard) { return ABoard.Port.empty(); });
    if (unknown && (found.size() > 1 || !FSetup.Runs.Empty())) {
      if (AFirst) return kPortsUnknown;
      if (!FToldUnknown) FSetup.View.Line("kestrova-flash: " + std::string(kPortsUnknown));
      FToldUnknown = true;
      return {};
    }
    // In the order found, after those that waited already; a board that
    // left while it waited waits no more (without --repeat only the boards
    // of the first look are taken).
    std::vector<std::string> present;
    for (const update::TBoardSeen& board : found) present.push_back(board.Port);
    std::erase_if(FWaiting, [&](const std::string& APort) {
      return std::find(present.begin(), present.end(), APort) == present.end();
    });
    if (AFirst || (FSetup.Options.Repeat && !FSerialsEnded))
      for (const std::string& port : present)
        if (std::find(FWaiting.begin(), FWaiting.end(), port) == FWaiting.end()) FWaiting.push_back(port);
    while (!FWaiting.empty()) {
      const std::string port = FWaiting.front();
      TBoardTags tags{"", FSetup.Station};
      if (FSetup.Serials) {
        switch (FSetup.Serials->Next(tags.Serial)) {
          case ISerialSource::TState::Waiting:
            if (FToldWaiting != port) FSetup.View.Line(update::PortText(port) + ": waiting for its serial (scan it)");
            FToldWaiting = port;
            return {};
          case ISerialSource::TState::Ended:
            FSerialsEnded = true;
            LeaveWaiting("not updated: standard input ended before its serial came");
            return {};
          case ISerialSource::TState::Ready:
            FSetup.View.Line(update::PortText(port) + ": serial " + tags.Serial);
            break;
        }
      }
      FWaiting.erase(FWaiting.begin());
      FSetup.Runs.Start(port, FSetup.Update, FSetup.View, "[" + update::PortText(port) + "] ", std::move(tags));
      ++FEnd.Boards;
    }
    return {};
  }

  // The boards waiting for a serial are not updated, each said with AWhy.
  void LeaveWaiting(const std::string& AWhy) {
    for (const std::string& port : FWaiting) {
      FEnd.NoSerial.push_back(port);
      FSetup.View.Result(port, AWhy, true);
      if (FSetup.Log) FSetup.Log->Write("[" + update::PortText(port) + "] " + AWhy);
    }
    FWaiting.clear();
  }

  void Ended(const TBoardEnd& AEnd) {
    const update::TUpdateOutcome& outcome = AEnd.Outcome;
    std::string text;
    const bool failed =
        outcome.Result != update::TUpdateResult::Success && outcome.Result != update::TUpdateResult::Cancelled;
    if (outcome.Result == update::TUpdateResult::Success) {
      FEnd.Updated += 1;
      text = "ok in " + update::TookText(outcome.Seconds) + (outcome.BoardId.empty() ? "" : ", ID " + outcome.BoardId) +
             (AEnd.Tags.Serial.empty() ? "" : ", serial " + AEnd.Tags.Serial);
    } else if (outcome.Result == update::TUpdateResult::Cancelled) {
      FEnd.Cancelled.push_back(AEnd.Port);
      text = "cancelled after " + update::TookText(outcome.Seconds);
    } else {
      FEnd.Failed.push_back(AEnd.Port);
      text = "FAILED: " + OneLine(update::CauseLine(outcome));
    }
    FSetup.View.Result(AEnd.Port, text, failed);
    if (FSetup.Log) FSetup.Log->Write("[" + update::PortText(AEnd.Port) + "] " + text);
  }

  const TGangSetup& FSetup;
  TGangEnd FEnd;
  bool FToldUnknown = false;
  std::vector<std::string> FWaiting;  // ports of boards found, not started yet: each waits for its serial
  std::string FToldWaiting;           // the board last said to wait
  bool FSerialsEnded = false;
};

}  // namespace

TGangEnd RunGang(const TGangSetup& ASetup) { return TGang(ASetup).Run(); }
