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
      if (!FSetup.Interrupted() && (first || FSetup.Options.Repeat)) {
        FEnd.Refusal = StartNewBoards(first);
        if (!FEnd.Refusal.empty()) return FEnd;
        first = false;
      }
      if (FSetup.Runs.Empty() && !FSetup.Options.Repeat) break;
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
    for (const update::TBoardSeen& board : found) {
      FSetup.Runs.Start(board.Port, FSetup.Update, FSetup.View, "[" + update::PortText(board.Port) + "] ");
      ++FEnd.Boards;
    }
    return {};
  }

  void Ended(const TBoardEnd& AEnd) {
    const update::TUpdateOutcome& outcome = AEnd.Outcome;
    std::string text;
    const bool failed =
        outcome.Result != update::TUpdateResult::Success && outcome.Result != update::TUpdateResult::Cancelled;
    if (outcome.Result == update::TUpdateResult::Success) {
      FEnd.Updated += 1;
      text = "ok in " + update::TookText(outcome.Seconds) + (outcome.BoardId.empty() ? "" : ", ID " + outcome.BoardId);
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
};

}  // namespace

TGangEnd RunGang(const TGangSetup& ASetup) { return TGang(ASetup).Run(); }
