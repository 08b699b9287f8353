// The station's tests, and the copies of the program that they start:
//   --crash-holding-lock FOLDER [KIND]  takes the lock of FOLDER, installs
//                                the crash handler and writes to a bad
//                                address (or crashes as KIND says)
//   --write-own-folder           writes the folder it finds itself in to
//                                "folder.txt" there, as UTF-8
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <fstream>
#include <string_view>

#include "ChildProcess.h"
#include "CrashHandler.h"
#include "InstanceLock.h"
#include "StationFiles.h"
#include "StationTests.h"
#include "Utf8.h"

namespace {

int CrashHoldingLock(const char* AFolder, const char* AKind) {
  // The copy crashes as the window would in a plain build: a sanitizer's
  // handler, which the crash handler passes the fault on to, would end it
  // with an exit code of its own.
  std::signal(SIGSEGV, SIG_DFL);
  station::SetFolderOverride(AFolder);
  station::TInstanceLock lock(station::LockFile());
  if (lock.Acquire() != station::TInstanceLock::TResult::Acquired) return 2;
  std::ofstream(station::Folder() / stationtest::kLockedMark) << "locked";
  if (!station::InstallCrashHandler(station::BugReport())) return 3;
  if (AKind) stationtest::CrashAs(AKind);
  volatile std::uintptr_t address = stationtest::kBadAddress;
  *reinterpret_cast<volatile int*>(address) = 1;
  return 4;  // not reached
}

int WriteOwnFolder() {
  std::ofstream(station::Folder() / stationtest::kFolderFile, std::ios::binary) << PathToUtf8(station::Folder());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (mode == "--crash-holding-lock" && (argc == 3 || argc == 4))
    return CrashHoldingLock(argv[2], argc == 4 ? argv[3] : nullptr);
  if (mode == "--write-own-folder") return WriteOwnFolder();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
