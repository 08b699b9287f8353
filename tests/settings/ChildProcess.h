// The station's tests run their own program a second time, as a copy of
// the configurator would run: one that holds the lock and crashes, one
// started from another folder. The system's side in linux/ and win/.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace stationtest {

struct TChildEnd {
  bool Started = false;
  bool Crashed = false;     // ended by a fault, not by exiting
  int ExitCode = -1;        // when it exited
  uint32_t MainThread = 0;  // the system's number of its first thread
};

// Runs AProgram with AArgs (plain ASCII) and waits until it has ended.
TChildEnd RunChild(const std::filesystem::path& AProgram, const std::vector<std::string>& AArgs);

// What the crash report calls a write to a bad address on this system.
extern const char* const kWriteFaultName;

// The other crashes this system's handler is tried with: the argument of
// the copy that crashes so, and what the report calls it.
struct TOtherCrash {
  const char* Kind;
  const char* Name;
};
extern const std::vector<TOtherCrash> kOtherCrashes;
// Crashes as AKind (one of kOtherCrashes) says.
void CrashAs(const std::string& AKind);

}  // namespace stationtest
