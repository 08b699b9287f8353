// A copy that holds the lock crashes: the crash is appended to the bug
// report file (what happened, where, on which thread, when), the file
// stays below its limit with the newest older reports kept whole, and the
// lock of the crashed copy keeps no one out. Then the system's other
// crashes (Windows: a stack overflow) are each reported too.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

#include "BugReportFile.h"
#include "ChildProcess.h"
#include "InstanceLock.h"
#include "ScratchFolder.h"
#include "StationFiles.h"
#include "StationTests.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string ReadFile(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(uint64_t AValue, int ADigits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", ADigits, static_cast<unsigned long long>(AValue));
  return text;
}

TEST(CrashHandler, ACrashIsReportedAndTheCrashedCopysLockIsFreed) {
  stationtest::TScratchFolder folder("crash");
  const std::filesystem::path report = folder.Path() / "bugreport.txt";
  {
    std::string older;  // about 110 fill the file
    for (int i = 0; i < 120; ++i)
      older = station::AppendWithinLimit(
          older, station::FormatBugReport("2024-05-06 07:08:09.010", "0x00000001 (main)",
                                          "older " + std::to_string(i) + " " + std::string(800, 'o')));
    std::ofstream(report, std::ios::binary) << older;
  }

  const stationtest::TChildEnd end = stationtest::RunChild(
      station::RunningExecutable(), {"--crash-holding-lock", folder.Path().string()});
  ASSERT_TRUE(end.Started);
  EXPECT_TRUE(end.Crashed) << "exit code " << end.ExitCode;
  ASSERT_TRUE(std::filesystem::exists(folder.Path() / stationtest::kLockedMark)) << "it held the lock";

  const std::string text = ReadFile(report);
  EXPECT_LT(text.size(), station::kBugReportLimit);
  EXPECT_TRUE(text.starts_with(station::kBugReportMark)) << "the oldest kept report is whole";
  EXPECT_THAT(text, HasSubstr("Error: older 119 "));
  EXPECT_THAT(text, Not(HasSubstr("Error: older 0 ")));
  const std::string crash = text.substr(text.rfind(std::string("\n") + station::kBugReportMark) + 1);
  EXPECT_TRUE(std::regex_search(crash, std::regex(R"(^==== \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ====\n)")))
      << crash;
  EXPECT_THAT(crash, HasSubstr("\nThread: " + Hex(end.MainThread, 8) + "\n"));
  EXPECT_THAT(crash, HasSubstr(stationtest::kWriteFaultName));
  EXPECT_THAT(crash, HasSubstr(Hex(stationtest::kBadAddress, 16)));
  EXPECT_TRUE(crash.ends_with("\n\n")) << crash;
  for (const stationtest::TOtherCrash& other : stationtest::kOtherCrashes) {
    SCOPED_TRACE(other.Kind);
    const stationtest::TChildEnd otherEnd =
        stationtest::RunChild(station::RunningExecutable(), {"--crash-holding-lock", folder.Path().string(), other.Kind});
    EXPECT_TRUE(otherEnd.Crashed) << "exit code " << otherEnd.ExitCode;
    const std::string all = ReadFile(report);
    const std::string last = all.substr(all.rfind(std::string("\n") + station::kBugReportMark) + 1);
    EXPECT_THAT(last, HasSubstr("\nThread: " + Hex(otherEnd.MainThread, 8) + "\n"));
    EXPECT_THAT(last, HasSubstr(other.Name));
  }

  station::TInstanceLock next(folder.Path() / "KestrovaSetup.lock");
  EXPECT_EQ(next.Acquire(), station::TInstanceLock::TResult::Acquired);
}

}  // namespace
