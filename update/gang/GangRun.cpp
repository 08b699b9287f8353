#include "GangRun.h"

#include <algorithm>
#include <map>

#include "ExitCodes.h"
#include "UpdateCauseText.h"

const char* const kPortsUnknownText =
    "the system does not tell the USB ports of the boards, so boards that come back under their "
    "new loader cannot be told apart; connect one board at a time";

namespace {

class TGang {
 public:
  explicit TGang(const TGangSetup& ASetup) : FSetup(ASetup) {}

  TGangEnd Run() {
    bool first = true;
    for (;;) {
      if (FSetup.Idle && FSetup.Runs.Empty()) FSetup.Idle();
      if (FSetup.Again && FSetup.Again->exchange(false) && !FSetup.Interrupted()) StartAgain();
      // Once the serials have ended, no board that comes later can be updated.
      const bool more = FSetup.Repeat && !FSerialsEnded;
      if (!FSetup.Interrupted() && (first || more || !FWaiting.empty())) {
        FEnd.Refusal = StartNewBoards(first);
        if (!FEnd.Refusal.empty()) return FEnd;
        first = false;
      }
      if (FSetup.Interrupted()) LeaveWaiting("stopped by Ctrl-C while waiting for its serial");
      if (FSetup.Runs.Empty() && FWaiting.empty() && !(FSetup.Repeat && !FSerialsEnded)) break;
      for (const TBoardEnd& end : FSetup.Runs.Turn(FSetup.Interrupted())) Ended(end);
      FSetup.Front.Turned();
      if (FSetup.Runs.Empty() && FSetup.Interrupted()) break;
    }
    FSetup.Front.Turned();
    return FEnd;
  }

 private:
  // Every board under its loader that is new and not at a port in work.
  // At the first look, boards whose ports the system does not tell are
  // refused when there is more than one (if the setup says so); later
  // such a board waits until it is the only one.
  std::string StartNewBoards(bool AFirst) {
    std::vector<update::TBoardSeen> found = FSetup.NewBoards();
    std::erase_if(found, [this](const update::TBoardSeen& ABoard) { return FSetup.Runs.Running(ABoard.Port); });
    const bool unknown = std::any_of(found.begin(), found.end(), [](const auto& ABoard) { return ABoard.Port.empty(); });
    if (unknown && (found.size() > 1 || !FSetup.Runs.Empty())) {
      if (AFirst && FSetup.RefuseUnknownPorts) return kPortsUnknownText;
      if (!FToldUnknown) FSetup.Front.Line(kPortsUnknownText);
      FToldUnknown = true;
      return {};
    }
    Queue(found, AFirst || (FSetup.Repeat && !FSerialsEnded));
    while (!FWaiting.empty()) {
      const std::string port = FWaiting.front();
      TBoardTags tags{"", FSetup.Station};
      if (FSetup.Serials && !TakeSerial(port, tags.Serial)) return {};
      FWaiting.erase(FWaiting.begin());
      Start(port, std::move(tags));
    }
    return {};
  }

  // The boards found wait in the order found, after those that waited
  // already; a board that left while it waited waits no more. Without
  // ANew only the boards waiting already stay.
  void Queue(const std::vector<update::TBoardSeen>& AFound, bool ANew) {
    std::vector<std::string> present;
    for (const update::TBoardSeen& board : AFound) present.push_back(board.Port);
    std::erase_if(FWaiting, [&](const std::string& APort) {
      return std::find(present.begin(), present.end(), APort) == present.end();
    });
    if (!ANew) return;
    for (const std::string& port : present) {
      if (std::find(FWaiting.begin(), FWaiting.end(), port) != FWaiting.end()) continue;
      FWaiting.push_back(port);
      FFailedTags.erase(port);  // a new board: the one that failed there is gone
      FSetup.Front.Arrived(port);
    }
  }

  // False while the board at APort waits for its serial, or once none will come.
  bool TakeSerial(const std::string& APort, std::string& ASerial) {
    switch (FSetup.Serials->Next(ASerial)) {
      case ISerialSource::TState::Waiting:
        if (FToldWaiting != APort) FSetup.Front.WaitsForSerial(APort);
        FToldWaiting = APort;
        return false;
      case ISerialSource::TState::Ended:
        FSerialsEnded = true;
        LeaveWaiting("not updated: standard input ended before its serial came");
        return false;
      case ISerialSource::TState::Ready:
        FSetup.Front.SerialTaken(APort, ASerial);
        return true;
    }
    return false;
  }

  void Start(const std::string& APort, TBoardTags ATags) {
    std::shared_ptr<update::IUpdateEvents> events = FSetup.Front.Events(APort, ATags);
    FSetup.Runs.Start(APort, FSetup.Update, std::move(events), std::move(ATags));
    ++FEnd.Boards;
  }

  // The boards that failed and are still connected, with their serials.
  void StartAgain() {
    for (auto it = FFailedTags.begin(); it != FFailedTags.end();) {
      if (!FSetup.Runs.TakeAgain(it->first)) {
        ++it;
        continue;
      }
      FSetup.Front.Arrived(it->first);
      Start(it->first, it->second);
      it = FFailedTags.erase(it);
    }
  }

  // The boards waiting for a serial are not updated, each said with AWhy.
  void LeaveWaiting(const std::string& AWhy) {
    for (const std::string& port : FWaiting) {
      FEnd.NoSerial.push_back(port);
      FSetup.Front.Result(port, AWhy, true);
    }
    FWaiting.clear();
  }

  void Ended(const TBoardEnd& AEnd) {
    const update::TUpdateOutcome& outcome = AEnd.Outcome;
    FFailedTags.erase(AEnd.Port);
    if (outcome.Result == update::TUpdateResult::Success) {
      FEnd.Updated += 1;
      FSetup.Front.Result(AEnd.Port,
                          "ok in " + update::TookText(outcome.Seconds) +
                              (outcome.BoardId.empty() ? "" : ", ID " + outcome.BoardId) +
                              (AEnd.Tags.Serial.empty() ? "" : ", serial " + AEnd.Tags.Serial),
                          false);
    } else if (outcome.Result == update::TUpdateResult::Cancelled) {
      FEnd.Cancelled.push_back(AEnd.Port);
      FSetup.Front.Result(AEnd.Port, "cancelled after " + update::TookText(outcome.Seconds), false);
    } else {
      FEnd.Failed.push_back(AEnd.Port);
      FFailedTags[AEnd.Port] = AEnd.Tags;
      FSetup.Front.Result(AEnd.Port, "FAILED: " + OneLine(update::CauseLine(outcome)), true);
    }
    FSetup.Front.Ended(AEnd);
  }

  const TGangSetup& FSetup;
  TGangEnd FEnd;
  bool FToldUnknown = false;
  std::vector<std::string> FWaiting;  // ports of boards found, not started yet: each waits for its serial
  std::string FToldWaiting;           // the board last said to wait
  bool FSerialsEnded = false;
  std::map<std::string, TBoardTags> FFailedTags;  // boards that failed, by port, until they are updated again
};

}  // namespace

TGangEnd RunGang(const TGangSetup& ASetup) { return TGang(ASetup).Run(); }
