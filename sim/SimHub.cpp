#include "SimHub.h"

#include <algorithm>

namespace sim {

TSimHub::TSimHub(TSimHubKind AKind, std::string APort) : FKind(AKind), FPort(std::move(APort)) {
  if (FKind == TSimHubKind::SingleTT) FSharedFrames = std::make_shared<TSimFrameClock>(kTransfersPerFrame);
}

bool TSimHub::Reserve(uint32_t AEndpoints) {
  // A translator of its own per port: a full-speed device always fits.
  if (FKind == TSimHubKind::MultiTT) return true;
  std::lock_guard<std::mutex> lock(FLock);
  if (FReserved + AEndpoints > kTransfersPerFrame) return false;
  FReserved += AEndpoints;
  return true;
}

void TSimHub::Release(uint32_t AEndpoints) {
  if (FKind == TSimHubKind::MultiTT) return;
  std::lock_guard<std::mutex> lock(FLock);
  FReserved -= std::min(FReserved, AEndpoints);
}

}  // namespace sim
