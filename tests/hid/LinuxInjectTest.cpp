// Whole updates by the update engine, as kestrova-flash runs them, through
// the Linux backend on the umockdev board, while the system calls on the
// board's hidraw nodes fail as the kernel may make them fail
// (libhidraw_faults, preloaded before umockdev's library). Each row of the
// table is one failure and how the update must end when it strikes: an
// interrupted or busy call is retried and the board ends up holding the
// images, a write that fails ends as a failed write (not as a refused
// password), a node that goes ends as a board that left. No run may hang,
// and none may report success for a board that holds anything else.
//
// --runs N --seed S: N more runs, each with a row's failure at a call
// drawn at random (the CI run makes a few); the figures are printed.
#include <cstring>
#include <random>

#include "HidrawFaults.h"
#include "UmockdevBoard.h"
#include "UpdateCauseText.h"
#include "UpdateJob.h"

namespace {

using update::TUpdateResult;
using namespace std::chrono_literals;

// A run that has not ended by then hangs (the slowest ending, a board that
// does not answer, takes the answer limit and its grace).
constexpr int kRunLimitMs = 20000;
// The engine's pauses (after each password, between looks for the board)
// are cut to this; its clock moves on by the whole pause.
constexpr auto kBriskPause = 5ms;
constexpr uint32_t kReturnDelayMs = 20;
constexpr uint32_t kLateAnswerGraceMs = 100;

struct TOptions {
  int Runs = 12;
  uint32_t Seed = 26;
} GOptions;

// One failure, and how the update ends when it strikes.
struct TRow {
  const char* Name;
  std::vector<THidrawFault> Faults;
  bool FullReports;        // the images in full fast writes, not line by line
  TUpdateResult Expected;  // once the failure struck
  uint32_t Code;           // the system's error the cause names (0: none)
  // Random runs: the failure strikes at any call of its kind (else where
  // the row puts it), and Times is drawn from 1 to this (0: as the row has it).
  bool Anywhere;
  int MaxTimes;
};

constexpr const char* kFirstNode = "/dev/hidraw0";  // the board under its resident loader
constexpr const char* kBackNode = "/dev/hidraw1";   // back under the RAM loader

THidrawFault Fail(int ACall, int AError, int AFirst = 1, int ATimes = 1, int AEvery = 0, const char* ANode = nullptr) {
  return THidrawFault{ACall, ANode, AFirst, ATimes, AEvery, AError, 0, 0, 0};
}
// A write's wait for room.
THidrawFault FailWait(int AError, int AFirst, int ATimes) {
  return THidrawFault{kHidrawPoll, nullptr, AFirst, ATimes, 0, AError, 0, 0, POLLOUT};
}
THidrawFault CutWrite(int AFirst, int ABytes) { return THidrawFault{kHidrawWrite, nullptr, AFirst, 1, 0, 0, ABytes, 0, 0}; }
THidrawFault GoneAtRead(const char* ANode) { return THidrawFault{kHidrawRead, ANode, 1, 1, 0, 0, 0, 1, 0}; }

const std::vector<TRow>& Table() {
  static const std::vector<TRow> LRows = {
      {"WriteEioOnThePassword", {Fail(kHidrawWrite, EIO, 1)}, false, TUpdateResult::WriteFailed, EIO, true, 2},
      {"WriteEioOnALoaderLine", {Fail(kHidrawWrite, EIO, 4)}, false, TUpdateResult::WriteFailed, EIO, true, 2},
      {"WriteEpipeOnAFastWrite", {Fail(kHidrawWrite, EPIPE, 12)}, true, TUpdateResult::WriteFailed, EPIPE, true, 2},
      {"WriteEnodevWhileTheFirmwareGoesOut", {Fail(kHidrawWrite, ENODEV, 11)}, false, TUpdateResult::BoardLeft,
       ENODEV, true, 1},
      {"ShortWriteOfAFirmwareLine", {CutWrite(12, 1)}, false, TUpdateResult::WriteFailed, 0, true, 0},
      {"ShortWriteOfTheSecondPassword", {CutWrite(2, 32)}, true, TUpdateResult::WriteFailed, 0, true, 0},
      {"WriteEintrIsRetried", {Fail(kHidrawWrite, EINTR, 1, 1, 2)}, false, TUpdateResult::Success, 0, true, 0},
      {"WriteEagainWaitsForRoom", {Fail(kHidrawWrite, EAGAIN, 1, 1, 3)}, true, TUpdateResult::Success, 0, true, 0},
      {"WriteEagainThenPollEintr",
       {Fail(kHidrawWrite, EAGAIN, 3, 1, 4), FailWait(EINTR, 1, 1)},
       false, TUpdateResult::Success, 0, true, 0},
      {"WriteEagainThenPollEagain",
       {Fail(kHidrawWrite, EAGAIN, 5), FailWait(EAGAIN, 1, 2)},
       false, TUpdateResult::Success, 0, true, 0},
      // A board that stops taking reports while it stays on the bus.
      {"WriteEagainForEver", {Fail(kHidrawWrite, EAGAIN, 7, -1)}, true, TUpdateResult::WriteFailed, ETIMEDOUT, true,
       0},
      {"EveryReadsFirstTryEintr", {Fail(kHidrawRead, EINTR, 1, 1, 2)}, false, TUpdateResult::Success, 0, true, 0},
      {"EveryReadsFirstTryEagain", {Fail(kHidrawRead, EAGAIN, 1, 1, 2)}, true, TUpdateResult::Success, 0, true, 0},
      {"PollEintrAgainAndAgain", {Fail(kHidrawPoll, EINTR, 1, 3, 5)}, false, TUpdateResult::Success, 0, true, 0},
      {"PollEagainAgainAndAgain", {Fail(kHidrawPoll, EAGAIN, 2, 2, 3)}, true, TUpdateResult::Success, 0, true, 0},
      {"NodeGoesBetweenPollAndRead", {GoneAtRead(kFirstNode)}, false, TUpdateResult::BoardLeft, 0, true, 0},
      {"NodeGoesBetweenPollAndReadUnderTheRamLoader", {GoneAtRead(kBackNode)}, true, TUpdateResult::BoardLeft, 0,
       true, 0},
      // The first open of a node is the pass that lists it, which then
      // identifies it without opening it.
      {"EaccesOnTheFirstOpenOfTheBoard", {Fail(kHidrawOpen, EACCES, 1, 1, 0, kFirstNode)}, false,
       TUpdateResult::Success, 0, false, 0},
      {"EaccesOnTheUpdatesOpenOfTheBoard", {Fail(kHidrawOpen, EACCES, 1, 2, 0, kFirstNode)}, true,
       TUpdateResult::CannotOpen, 0, false, 0},
      // udev applies the rule to the node of the board that came back a
      // moment after the node appears.
      {"EaccesForAMomentOnTheReturnedBoard", {Fail(kHidrawOpen, EACCES, 1, 4, 0, kBackNode)}, false,
       TUpdateResult::Success, 0, false, 4},
  };
  return LRows;
}

// The engine's clock and pauses: short pauses, a clock that moves on by
// the whole of each.
update::TUpdateTiming Brisk() {
  auto LSkipped = std::make_shared<std::atomic<int64_t>>(0);
  update::TUpdateTiming LTiming;
  LTiming.Now = [LSkipped] { return std::chrono::steady_clock::now() + std::chrono::milliseconds(LSkipped->load()); };
  LTiming.Sleep = [LSkipped](std::chrono::milliseconds APause) {
    const auto LReal = std::min<std::chrono::milliseconds>(APause, kBriskPause);
    std::this_thread::sleep_for(LReal);
    *LSkipped += (APause - LReal).count();
  };
  return LTiming;
}

// The update's log, for a run that ends otherwise than it should.
class TLogEvents : public update::IUpdateEvents {
 public:
  void Log(int32_t, TMessageType, const std::string& AMessage, TColor) override {
    std::lock_guard<std::mutex> LGuard(FLock);
    FLines.push_back(AMessage);
  }
  void Progress(const update::TUpdateProgress&) override {}
  void Ended(const update::TUpdateOutcome&) override {}
  std::string Tail(size_t ALines) {
    std::lock_guard<std::mutex> LGuard(FLock);
    std::string LOut;
    for (size_t LAt = FLines.size() > ALines ? FLines.size() - ALines : 0; LAt < FLines.size(); ++LAt)
      LOut += "  " + FLines[LAt] + "\n";
    return LOut;
  }

 private:
  std::mutex FLock;
  std::vector<std::string> FLines;
};

struct TRunEnd {
  bool Hung = false;  // not ended within the limit (ended only when cancelled)
  update::TUpdateOutcome Outcome;
  bool BoardHoldsImages = false;
  uint32_t ReportsTaken = 0;
  int Hits = 0;
  int Calls[kHidrawCallKinds] = {};
  std::string Log;
};

// One update on a fresh test bed and board with AFaults set.
class TInjectedRuns : public TLinuxBackend {
 protected:
  TRunEnd Run(const std::vector<THidrawFault>& AFaults, bool AFullReports) {
    TRunEnd LEnd;
    sim::TSimBus LHome;
    sim::TSimBoardOptions LBoardOptions;
    LBoardOptions.ReturnDelayMs = kReturnDelayMs;
    auto LBoard = std::make_shared<sim::TSimBoard>(LBoardOptions);
    LBoard->PlugInto(LHome);
    TFakeDevice LNode = kBoard;
    LNode.HidSequence = FNextSequence;
    FNextSequence += 2;
    hidraw_faults_set(AFaults.data(), static_cast<int>(AFaults.size()));
    {
      TNodeFollower LFollower(Bed, LHome, LBoard, LNode);
      auto LController = std::make_shared<TJvHidDeviceController>();
      Loop.RunPending();
      update::TUpdateOptions LOptions;
      LOptions.LoaderFile = Images.Loader;
      LOptions.FirmwareFile = Images.Firmware;
      if (AFullReports) {
        LOptions.BlockBytes = kWriteFullReports;
        LOptions.SettingsPause = 0ms;
      }
      LOptions.Timing = Brisk();
      LOptions.LateAnswerGraceMs = kLateAnswerGraceMs;
      auto LEvents = std::make_shared<TLogEvents>();
      update::TUpdateJob LJob(std::make_shared<update::TBoardPorts>(LController), LEvents, LOptions);
      LJob.Start();
      const auto LEnded = [&] {
        LFollower.Turn();
        return LJob.Ended();
      };
      Loop.RunFor(kRunLimitMs, LEnded);
      if (!LJob.Ended()) {
        LEnd.Hung = true;
        LJob.Cancel();
        Loop.RunFor(kRunLimitMs, LEnded);
        // A worker that does not end even then cannot be left behind.
        if (!LJob.Ended()) {
          std::fprintf(stderr, "an update hung and does not end when cancelled:\n%s", LEvents->Tail(20).c_str());
          std::abort();
        }
      }
      LEnd.Outcome = LJob.Outcome();
      LEnd.Hits = hidraw_faults_hits();
      for (int LKind = 0; LKind < kHidrawCallKinds; ++LKind) LEnd.Calls[LKind] = hidraw_faults_calls(LKind);
      hidraw_faults_set(nullptr, 0);
      LEnd.Log = LEvents->Tail(12);
    }
    LEnd.BoardHoldsImages = Images.InBoard(*LBoard);
    LEnd.ReportsTaken = LBoard->ReportsReceived();
    RenewBed();
    return LEnd;
  }

  // What a run that ended so says about the failure: empty when it is
  // right. AOrSuccess: a success (with the images in the board) is right
  // too, as when a node goes at the read of Load PC, where the board leaves
  // anyway.
  static std::string Wrong(const TRow& ARow, const TRunEnd& AEnd, bool AOrSuccess = false) {
    const update::TUpdateOutcome& LOut = AEnd.Outcome;
    const TUpdateResult LExpected = AEnd.Hits > 0 ? ARow.Expected : TUpdateResult::Success;
    if (AEnd.Hung) return "hung";
    if (LOut.Result == TUpdateResult::Success && !AEnd.BoardHoldsImages) return "false success";
    if (LOut.Result == TUpdateResult::Success && AOrSuccess) return {};
    if (LOut.Result != LExpected)
      return std::string("ended as \"") + update::ResultName(LOut.Result) + "\", not \"" +
             update::ResultName(LExpected) + "\"";
    if (AEnd.Hits > 0 && ARow.Code != 0 && LOut.Cause.Failure.SystemCode != ARow.Code)
      return "the cause names error " + std::to_string(LOut.Cause.Failure.SystemCode) + ", not " +
             std::to_string(ARow.Code);
    if (LOut.Result == TUpdateResult::CannotOpen &&
        (AEnd.ReportsTaken != 0 || LOut.Text.find("Permission denied") == std::string::npos ||
         LOut.Text.find("install-udev-rule.sh") == std::string::npos))
      return "a board that cannot be opened was sent " + std::to_string(AEnd.ReportsTaken) +
             " reports, or not told why: " + LOut.Text;
    return {};
  }

  static std::string Told(const TRunEnd& AEnd) {
    return update::CauseLine(AEnd.Outcome) + "\n" + AEnd.Log + "  (calls: " + std::to_string(AEnd.Calls[0]) + " open, " +
           std::to_string(AEnd.Calls[1]) + " read, " + std::to_string(AEnd.Calls[2]) + " write, " +
           std::to_string(AEnd.Calls[3]) + " poll; " + std::to_string(AEnd.Hits) + " struck)";
  }

  TImageFiles Images;

 private:
  // Every run on a test bed of its own.
  void RenewBed() {
    g_object_unref(Bed);
    Bed = umockdev_testbed_new();
  }
  int FNextSequence = 1;
};

class TInjectedFailure : public TInjectedRuns, public ::testing::WithParamInterface<TRow> {};

TEST_P(TInjectedFailure, EndsAsTheFailureCallsFor) {
  const TRow& LRow = GetParam();
  const TRunEnd LEnd = Run(LRow.Faults, LRow.FullReports);
  // Also what a library preloaded after umockdev's, which it never sees, comes to.
  EXPECT_GT(LEnd.Hits, 0) << "the failure never struck";
  EXPECT_EQ(Wrong(LRow, LEnd), "") << Told(LEnd);
}

INSTANTIATE_TEST_SUITE_P(Rows, TInjectedFailure, ::testing::ValuesIn(Table()),
                         [](const ::testing::TestParamInfo<TRow>& AInfo) { return AInfo.param.Name; });

// Each run a row's failure, struck at a call of its kind drawn at random
// (among the calls a run without failures makes), in either write mode; it
// ends as the row's do, or in success.
TEST_F(TInjectedRuns, RandomRunsEndAsTheirFailuresCallFor) {
  std::mt19937 LRandom(GOptions.Seed);
  int LClean[2][kHidrawCallKinds] = {};
  for (int LMode = 0; LMode < 2; ++LMode) {
    const TRunEnd LEnd = Run({}, LMode == 1);
    ASSERT_EQ(Wrong(Table().front(), LEnd), "") << Told(LEnd);
    std::copy(std::begin(LEnd.Calls), std::end(LEnd.Calls), LClean[LMode]);
  }
  const auto LStart = std::chrono::steady_clock::now();
  std::map<std::string, int> LCauses;
  int LStruck = 0, LSuccesses = 0, LFalseSuccesses = 0, LHangs = 0, LWrongCauses = 0;
  for (int LRun = 0; LRun < GOptions.Runs; ++LRun) {
    const TRow& LRow = Table()[LRandom() % Table().size()];
    const bool LFull = LRandom() % 2 == 1;
    std::vector<THidrawFault> LFaults = LRow.Faults;
    for (THidrawFault& LFault : LFaults) {
      if (LRow.Anywhere) LFault.First = 1 + static_cast<int>(LRandom() % std::max(1, LClean[LFull][LFault.Call]));
      if (LRow.MaxTimes > 0) LFault.Times = 1 + static_cast<int>(LRandom() % static_cast<uint32_t>(LRow.MaxTimes));
    }
    const TRunEnd LEnd = Run(LFaults, LFull);
    const std::string LWrong = Wrong(LRow, LEnd, true);
    ++LCauses[update::ResultName(LEnd.Outcome.Result)];
    LStruck += LEnd.Hits > 0 ? 1 : 0;
    LSuccesses += LEnd.Outcome.Result == TUpdateResult::Success ? 1 : 0;
    LHangs += LEnd.Hung ? 1 : 0;
    LFalseSuccesses += LWrong == "false success" ? 1 : 0;
    LWrongCauses += !LWrong.empty() && !LEnd.Hung && LWrong != "false success" ? 1 : 0;
    EXPECT_EQ(LWrong, "") << "run " << LRun + 1 << ", " << LRow.Name << (LFull ? ", full reports" : ", line by line")
                          << ", first " << LFaults.front().First << ", times " << LFaults.front().Times << ": "
                          << Told(LEnd);
  }
  const double LSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - LStart).count();
  std::printf("runs: %d (seed %u), the failure struck in %d\nsuccesses: %d\n", GOptions.Runs, GOptions.Seed, LStruck,
              LSuccesses);
  for (const auto& [LCause, LCount] : LCauses) std::printf("  %s: %d\n", LCause.c_str(), LCount);
  std::printf("false successes: %d\nhangs: %d\nwrong causes: %d\ntime: %.1f s (%.3f s a run)\n", LFalseSuccesses,
              LHangs, LWrongCauses, LSeconds, GOptions.Runs > 0 ? LSeconds / GOptions.Runs : 0.0);
}

}  // namespace

int main(int AArgc, char** AArgv) {
  ::testing::InitGoogleTest(&AArgc, AArgv);
  for (int LArg = 1; LArg + 1 < AArgc; ++LArg) {
    if (std::strcmp(AArgv[LArg], "--runs") == 0) GOptions.Runs = std::atoi(AArgv[++LArg]);
    else if (std::strcmp(AArgv[LArg], "--seed") == 0) GOptions.Seed = static_cast<uint32_t>(std::strtoul(AArgv[++LArg], nullptr, 10));
  }
  return RUN_ALL_TESTS();
}
