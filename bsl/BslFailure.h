// Why the last command of the loader client failed, found where it failed
// and kept as a value: the caller decides what to tell whom.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TBslFailureKind {
  None,        // the command did what it should
  NotWritten,  // the report was not written (the system's reason)
  ShortWrite,  // the system took only part of the report
  ReadFailed,  // the answer could not be read (the system's reason)
  Gone,        // the device has left the bus
  NoAnswer,    // no answer within the limit; a late one is noted
  BadAnswer,   // what came back is not one of the loader's answers
  Refused,     // the loader answered with a message other than success
};

struct TBslFailure {
  TBslFailureKind Kind = TBslFailureKind::None;
  uint8_t Command = 0;        // the BSL command byte
  uint32_t Written = 0;       // bytes of the report that went out
  uint32_t ReportLength = 0;  // bytes of the whole report
  uint32_t SystemCode = 0;    // the system's error number, and its text
  std::string SystemReason;
  uint32_t WaitedMs = 0;      // NoAnswer: how long the answer was awaited
  uint32_t LateAfterMs = 0;   // NoAnswer: it came this late after all (0: never)
  uint8_t Message = 0;        // Refused: the loader's message code
  std::vector<uint8_t> Answer;  // BadAnswer: the first bytes of what came

  bool Failed() const { return Kind != TBslFailureKind::None; }
};

// What the reports of an image (or any run of commands) came to since the
// client's tally was last reset.
struct TBslWriteTally {
  uint64_t DataBytes = 0;  // data bytes of fast writes that went out whole
  int FailedReports = 0;   // reports that did not go out whole
  TBslFailure First;       // why the first of them failed
};
