#include "BoardRuns.h"

namespace {

constexpr uint32_t kLoopSliceMs = 100;  // how soon an interrupt, an arrival and an end are seen

}  // namespace

TBoardRuns::TBoardRuns(hid::TPlainEventLoop& ALoop, std::shared_ptr<update::TBoardPorts> APorts,
                       TNewBoards& ANewBoards, TRecordFile* ARecord, TEndedHook AEnded)
    : FLoop(ALoop), FPorts(std::move(APorts)), FNewBoards(ANewBoards), FRecord(ARecord), FEnded(std::move(AEnded)) {}

TBoardRuns::~TBoardRuns() {
  for (auto& [port, run] : FRunning) run.Job->Cancel();
}

void TBoardRuns::Start(const std::string& APort, update::TUpdateOptions AOptions,
                       std::shared_ptr<update::IUpdateEvents> AEvents, TBoardTags ATags) {
  AOptions.Port = APort;
  hid::TPlainEventLoop& loop = FLoop;
  auto job = std::make_unique<update::TUpdateJob>(FPorts, std::move(AEvents), std::move(AOptions), [&loop] { loop.Wake(); });
  job->Start();
  FRunning.emplace(APort, TRun{std::move(job), std::move(ATags)});
}

bool TBoardRuns::TakeAgain(const std::string& APort) {
  if (Running(APort)) return false;
  const std::vector<update::TBoardSeen> boards = FPorts->Present(&IsLoaderBoard, {APort});
  for (const update::TBoardSeen& board : boards) FNewBoards.Again(board.DeviceID);
  return !boards.empty();
}

std::vector<TBoardEnd> TBoardRuns::Turn(bool AInterrupted) {
  FLoop.RunFor(kLoopSliceMs);
  std::vector<TBoardEnd> ended;
  for (auto it = FRunning.begin(); it != FRunning.end();) {
    update::TUpdateJob& job = *it->second.Job;
    if (AInterrupted) job.Cancel();
    if (!job.Ended()) {
      ++it;
      continue;
    }
    ended.push_back({it->first, job.Outcome(), it->second.Tags});
    Ended(ended.back(), job.Options());
    it = FRunning.erase(it);  // joins the job's thread
  }
  return ended;
}

// The board's record; the board at its port counts as done until it is
// unplugged.
void TBoardRuns::Ended(const TBoardEnd& AEnd, const update::TUpdateOptions& AOptions) {
  const TBoardRecord record = RecordOf(AEnd.Outcome, AOptions, AEnd.Tags);
  const bool written = !FRecord || FRecord->Append(record);
  for (const update::TBoardSeen& board : FPorts->Present(&IsLoaderBoard, {AEnd.Port}))
    FNewBoards.MarkDone(board.DeviceID);
  if (FEnded) FEnded(AEnd, record, written);
}
