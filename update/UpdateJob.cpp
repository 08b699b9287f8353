#include "UpdateJob.h"

#include "ThreadStack.h"

namespace update {

TUpdateJob::TUpdateJob(std::shared_ptr<TBoardPorts> APorts, std::shared_ptr<IUpdateEvents> AEvents,
                       TUpdateOptions AOptions, std::function<void()> AOnEnd)
    : FEngine(std::move(APorts), std::move(AEvents), std::move(AOptions)), FOnEnd(std::move(AOnEnd)) {}

TUpdateJob::~TUpdateJob() {
  if (FThread.joinable()) FThread.join();
}

void TUpdateJob::Start() {
  FThread = std::thread([this] {
    KeepStackForCrashReport();
    Run();
  });
}

void TUpdateJob::Run() {
  const TUpdateOutcome outcome = FEngine.Run();
  {
    std::lock_guard<std::mutex> lock(FLock);
    FOutcome = outcome;
  }
  FEnded.store(true);
  if (FOnEnd) FOnEnd();
}

TUpdateOutcome TUpdateJob::Outcome() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FOutcome;
}

}  // namespace update
