// What each system's backend of the pauses provides (common/linux,
// common/win). The counting around them is shared (Pause.cpp).
#pragma once

#include "Pause.h"

namespace pacing::backend {

// Sleeps until ADeadline or a little later; says how.
TPauseClock SleepUntil(std::chrono::steady_clock::time_point ADeadline);
// Raises the system timer when pauses need it; true when it did.
bool RaiseTimer();
void LowerTimer();
void AllowHighResolution(bool AAllowed);

}  // namespace pacing::backend
