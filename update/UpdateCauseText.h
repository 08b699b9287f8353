// The technician's words for how an update ended: what happened and what to
// do, each said once. Every front end words its outcomes with it; the
// engine itself carries only the cause.
#pragma once

#include <string>

#include "UpdateOutcome.h"

namespace update {

struct TCauseWords {
  std::string What;  // what happened, as a sentence without its full stop
  std::string Todo;  // what to do about it (may be empty)
};

TCauseWords CauseWords(const TUpdateOutcome& AOutcome);
// What and what to do in one line: "What; todo".
std::string CauseLine(const TUpdateOutcome& AOutcome);
// How long an update took: "12.3 s".
std::string TookText(double ASeconds);

}  // namespace update
