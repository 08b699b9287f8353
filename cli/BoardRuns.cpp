#include "BoardRuns.h"

#include "UpdateCauseText.h"

namespace {

constexpr uint32_t kLoopSliceMs = 100;  // how soon Ctrl-C, an arrival and an end are seen

}  // namespace

TBoardRuns::TBoardRuns(hid::TPlainEventLoop& ALoop, std::shared_ptr<update::TBoardPorts> APorts,
                       TNewBoards& ANewBoards, TCliLog* ALog, TRecordFile* ARecord, TJsonStream* AJson,
                       std::function<void(const std::string&)> ASay)
    : FLoop(ALoop), FPorts(std::move(APorts)), FNewBoards(ANewBoards), FLog(ALog), FRecord(ARecord), FJson(AJson),
      FSay(std::move(ASay)) {}

TBoardRuns::~TBoardRuns() {
  for (auto& [port, run] : FRunning) run.Job->Cancel();
}

void TBoardRuns::Start(const std::string& APort, update::TUpdateOptions AOptions, IBoardView& AView,
                       const std::string& ALogPrefix, TBoardTags ATags) {
  AOptions.Port = APort;
  if (FJson)
    FJson->Start(APort, AOptions.Loader ? AOptions.Loader->Sha256 : "",
                 AOptions.Firmware ? AOptions.Firmware->Sha256 : "");
  auto events = std::make_shared<TBoardEvents>(APort, AView, FLog, ALogPrefix, FJson);
  hid::TPlainEventLoop& loop = FLoop;
  auto job = std::make_unique<update::TUpdateJob>(FPorts, events, std::move(AOptions), [&loop] { loop.Wake(); });
  job->Start();
  FRunning.emplace(APort, TRun{std::move(job), std::move(ATags)});
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
    Ended(ended.back(), job.Options(), it->second.Tags);
    it = FRunning.erase(it);  // joins the job's thread
  }
  return ended;
}

// The board's record; the board at its port counts as done until it is
// unplugged.
void TBoardRuns::Ended(const TBoardEnd& AEnd, const update::TUpdateOptions& AOptions, const TBoardTags& ATags) {
  const TBoardRecord record = RecordOf(AEnd.Outcome, AOptions, ATags);
  if (FJson) FJson->End(AEnd.Port, record, OneLine(update::CauseLine(AEnd.Outcome)));
  if (FRecord && !FRecord->Append(record))
    FSay("kestrova-flash: the record of the board at " + update::PortText(AEnd.Port) + " could not be written");
  for (const update::TBoardSeen& board : FPorts->Present(&IsLoaderBoard, {AEnd.Port}))
    FNewBoards.MarkDone(board.DeviceID);
}
