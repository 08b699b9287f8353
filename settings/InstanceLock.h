// One configurator per folder: a second copy started from the same folder
// would flash the same board and write the same settings and log files.
// The copy that runs holds a lock file in the station's folder; the system
// lets go of it when the process ends, however it ends, so a copy that
// crashed keeps no one out.
#pragma once

#include <cstdint>
#include <filesystem>

namespace station {

class TInstanceLock {
 public:
  enum class TResult {
    Acquired,       // this copy holds the lock
    HeldElsewhere,  // another running copy holds it
    Unavailable,    // no lock file can be made there (then nothing else can be written there either)
  };

  explicit TInstanceLock(std::filesystem::path AFile) : FFile(std::move(AFile)) {}
  // Gives the lock up and removes the file.
  ~TInstanceLock() { Release(); }
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  TResult Acquire();
  void Release();

 private:
  std::filesystem::path FFile;
  std::intptr_t FHandle = -1;  // the system's handle of the open lock file
};

}  // namespace station
