#include "Orvik.ThreadRunner.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>
#include <stdexcept>

namespace {

// "hh:nn:ss.zzz " in front of every trace message.
const std::regex kTracePrefix(R"(^\d\d:\d\d:\d\d\.\d\d\d )");
constexpr size_t kTracePrefixLength = 13;

// Generous bound for threads that end on their own; never reached when the code works.
constexpr auto kWaitLimit = std::chrono::seconds(10);

class TTraceCapture {
 public:
  TTraceCapture() {
    SetDebugSink([this](const std::string& AMessage) {
      std::lock_guard<std::mutex> guard(FLock);
      FMessages.push_back(AMessage);
    });
  }
  ~TTraceCapture() { SetDebugSink({}); }

  // The messages without their timestamps; checks every timestamp's form.
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> guard(FLock);
    std::vector<std::string> lines;
    for (const auto& message : FMessages) {
      EXPECT_TRUE(std::regex_search(message, kTracePrefix)) << message;
      lines.push_back(message.substr(kTracePrefixLength));
    }
    return lines;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(FLock);
    FMessages.clear();
  }

 private:
  mutable std::mutex FLock;
  std::vector<std::string> FMessages;
};

class ThreadRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { ThreadRunnerModuleInit(); }
  void TearDown() override {
    EXPECT_EQ(ThreadRunnerCount(), 0) << "a test left a runner registered";
    ThreadRunnerModuleShutdown();
  }
  TTraceCapture Trace;
};

std::string ExecutePrefix(const TThreadRunner& ARunner, const std::string& AName) {
  return "TThreadRunner.Execute (0x" + ThreadIdHex(ARunner.ThreadID()) + "," + AName + ")";
}

TEST_F(ThreadRunnerTest, NormalRunTracesItsLifeInOrder) {
  std::atomic<std::uint32_t> idSeenInside{0};
  auto runner = std::make_unique<TThreadRunner>(
      [&](TThreadRunner*) { idSeenInside = CurrentThreadIdentifier(); }, "Flash thread");
  EXPECT_TRUE(runner->eventReady().IsSet());
  EXPECT_EQ(Trace.Lines().size(), 2u) << "the body must not run before Start";
  runner->Start();
  runner->WaitFor();

  EXPECT_NE(runner->ThreadID(), 0u);
  EXPECT_EQ(runner->ThreadID(), idSeenInside.load());
  EXPECT_NE(runner->ThreadID(), CurrentThreadIdentifier());
  const std::string prefix = ExecutePrefix(*runner, "Flash thread");
  const std::vector<std::string> expected = {
      "TThreadRunner.Create (0x00000000,) - BEGIN",
      "TThreadRunner.AfterConstruction ",
      prefix + " - BEGIN",
      prefix + " - END (1)",
  };
  EXPECT_EQ(Trace.Lines(), expected);
}

struct TFailureCase {
  const char* Label;
  TThreadProc Proc;
  std::string ExceptionText;
};
void PrintTo(const TFailureCase& ACase, std::ostream* AOut) { *AOut << ACase.Label; }

class ThreadRunnerFailureTest : public ThreadRunnerTest,
                                public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(ThreadRunnerFailureTest, ErrorIsTracedAndEndsWithZero) {
  auto runner = std::make_unique<TThreadRunner>(GetParam().Proc, "Worker");
  Trace.Clear();
  runner->Start();
  runner->WaitFor();
  const std::string prefix = ExecutePrefix(*runner, "Worker");
  const std::vector<std::string> expected = {
      prefix + " - BEGIN",
      prefix + " - EXCEPTION: " + GetParam().ExceptionText,
      prefix + " - END (0)",
  };
  EXPECT_EQ(Trace.Lines(), expected);
  EXPECT_TRUE(runner->Finished());
  EXPECT_EQ(runner->FatalException(), nullptr) << "std::exception must not pass on";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ThreadRunnerFailureTest,
    ::testing::Values(
        TFailureCase{"RaisingProcedure",
                     [](TThreadRunner*) { throw std::runtime_error("port gone"); },
                     "port gone"},
        TFailureCase{"NoProcedure", TThreadProc{}, "Not assigned Proc method"}),
    [](const auto& AInfo) { return std::string(AInfo.param.Label); });

TEST_F(ThreadRunnerTest, ForeignThrowEndsBodyWithZeroAndIsKept) {
  auto runner = std::make_unique<TThreadRunner>([](TThreadRunner*) { throw 42; }, "Worker");
  Trace.Clear();
  runner->Start();
  runner->WaitFor();
  const std::string prefix = ExecutePrefix(*runner, "Worker");
  const std::vector<std::string> expected = {prefix + " - BEGIN", prefix + " - END (0)"};
  EXPECT_EQ(Trace.Lines(), expected);
  ASSERT_NE(runner->FatalException(), nullptr);
  EXPECT_THROW(std::rethrow_exception(runner->FatalException()), int);
}

class ThreadRunnerRegistryTest : public ThreadRunnerTest,
                                 public ::testing::WithParamInterface<bool> {};

TEST_P(ThreadRunnerRegistryTest, TwoRunnersLeaveWhicheverEndsFirst) {
  const bool firstEndsFirst = GetParam();
  TManualResetEvent release[2];
  auto waitFor = [](TManualResetEvent& AEvent) {
    return [&AEvent](TThreadRunner*) { AEvent.Wait(); };
  };
  auto first = std::make_unique<TThreadRunner>(waitFor(release[0]), "first");
  auto second = std::make_unique<TThreadRunner>(waitFor(release[1]), "second");
  EXPECT_EQ(ThreadRunnerList(), (std::vector<TThreadRunner*>{first.get(), second.get()}));
  first->Start();
  second->Start();

  std::unique_ptr<TThreadRunner>& early = firstEndsFirst ? first : second;
  std::unique_ptr<TThreadRunner>& late = firstEndsFirst ? second : first;
  release[firstEndsFirst ? 0 : 1].SetEvent();
  early->WaitFor();
  TThreadRunner* const lateRaw = late.get();
  early.reset();
  EXPECT_EQ(ThreadRunnerList(), std::vector<TThreadRunner*>{lateRaw});
  release[firstEndsFirst ? 1 : 0].SetEvent();
  late.reset();
  EXPECT_EQ(ThreadRunnerCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Order, ThreadRunnerRegistryTest, ::testing::Bool(),
                         [](const auto& AInfo) {
                           return AInfo.param ? std::string("FirstEndsFirst")
                                              : std::string("SecondEndsFirst");
                         });

TEST_F(ThreadRunnerTest, NeverStartedRunnerIsDestroyedWithoutRunningItsBody) {
  std::atomic<bool> ran{false};
  auto runner = std::make_unique<TThreadRunner>([&](TThreadRunner*) { ran = true; }, "idle");
  EXPECT_EQ(ThreadRunnerCount(), 1);
  runner.reset();
  EXPECT_FALSE(ran);
  EXPECT_EQ(ThreadRunnerCount(), 0);
  EXPECT_EQ(Trace.Lines().size(), 2u) << "only Create and AfterConstruction";
}

TEST_F(ThreadRunnerTest, DestroyingRunningRunnerRequestsTerminationAndWaits) {
  TManualResetEvent started;
  std::atomic<bool> sawTerminated{false};
  auto runner = std::make_unique<TThreadRunner>(
      [&](TThreadRunner* Tr) {
        started.SetEvent();
        while (!Tr->Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawTerminated = true;
      },
      "loop");
  runner->Start();
  ASSERT_TRUE(started.WaitFor(kWaitLimit));
  runner.reset();
  EXPECT_TRUE(sawTerminated) << "the destructor returned before the body ended";
}

TEST_F(ThreadRunnerTest, FreeOnTerminateRunnerDeletesItselfOnItsThread) {
  TManualResetEvent release;
  auto* runner = new TThreadRunner(
      [&](TThreadRunner* Tr) {
        Tr->FreeOnTerminate = true;
        release.Wait();
      },
      "Flash thread");
  runner->Start();
  EXPECT_EQ(ThreadRunnerCount(), 1);
  release.SetEvent();
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  while (ThreadRunnerCount() != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(ThreadRunnerCount(), 0);
  const auto lines = Trace.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(" - END (1)"), std::string::npos) << lines.back();
}

TEST_F(ThreadRunnerTest, FreeOnTerminateIsResetWhenTheBodyBegins) {
  // Only the procedure itself can ask for self-destruction.
  std::atomic<bool> seenInside{true};
  auto runner = std::make_unique<TThreadRunner>(
      [&](TThreadRunner* Tr) { seenInside = Tr->FreeOnTerminate.load(); }, "w");
  runner->FreeOnTerminate = true;
  runner->Start();
  runner->WaitFor();
  EXPECT_FALSE(seenInside);
}

TEST_F(ThreadRunnerTest, GetXmlReportsStartTimeTicksAndEscapedName) {
  const std::regex xmlForm(
      R"re(^<thread lasttick="(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})" ticks="(-?\d+)" threadname="([^"]*)"/>$)re");
  TManualResetEvent begun, ticked, done;
  auto runner = std::make_unique<TThreadRunner>(
      [&](TThreadRunner* Tr) {
        begun.SetEvent();
        ticked.Wait();
        Tr->Tick();
        Tr->Tick();
        Tr->Tick();
        done.SetEvent();
      },
      "A&B");
  runner->Start();
  ASSERT_TRUE(begun.WaitFor(kWaitLimit));

  std::smatch first;
  const std::string xmlAtStart = runner->GetXML();
  ASSERT_TRUE(std::regex_match(xmlAtStart, first, xmlForm)) << xmlAtStart;
  EXPECT_EQ(first[2], "0");
  EXPECT_EQ(first[3], "A&amp;B");

  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // lets the clock move on
  ticked.SetEvent();
  ASSERT_TRUE(done.WaitFor(kWaitLimit));
  std::smatch later;
  const std::string xmlAfterTicks = runner->GetXML();
  ASSERT_TRUE(std::regex_match(xmlAfterTicks, later, xmlForm)) << xmlAfterTicks;
  EXPECT_EQ(later[2], "3");
  EXPECT_GT(later[1].str(), first[1].str()) << "Tick must move lasttick";
  runner->WaitFor();
}

TEST_F(ThreadRunnerTest, ShutdownWithEmptyRegistryWritesTwoLines) {
  Trace.Clear();
  ThreadRunnerModuleShutdown();
  const std::vector<std::string> expected = {"finalization Halvex.ThreadRunner start",
                                             "finalization Halvex.ThreadRunner ok"};
  EXPECT_EQ(Trace.Lines(), expected);
  ThreadRunnerModuleInit();  // for TearDown
}

TEST_F(ThreadRunnerTest, ShutdownWithRegisteredRunnerThrowsAndKeepsRegistry) {
  auto runner = std::make_unique<TThreadRunner>([](TThreadRunner*) {}, "left over");
  Trace.Clear();
  try {
    ThreadRunnerModuleShutdown();
    FAIL() << "shutdown must fail while a runner is registered";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Existují neukončené thready!");
  }
  EXPECT_EQ(Trace.Lines(), std::vector<std::string>{"finalization Halvex.ThreadRunner start"});
  EXPECT_EQ(ThreadRunnerList(), std::vector<TThreadRunner*>{runner.get()});
  runner.reset();
  EXPECT_EQ(ThreadRunnerCount(), 0);
}

// After shutdown there is no registry to join or leave; such a runner
// still runs its body, and its end touches nothing that is gone.
TEST_F(ThreadRunnerTest, RunnerMadeAfterShutdownStillRunsAndEndsHarmlessly) {
  ThreadRunnerModuleShutdown();
  std::atomic<bool> ran{false};
  auto runner = std::make_unique<TThreadRunner>([&](TThreadRunner*) { ran = true; }, "late");
  runner->Start();
  runner->WaitFor();
  EXPECT_TRUE(ran);
  ThreadRunnerModuleInit();
  auto current = std::make_unique<TThreadRunner>([](TThreadRunner*) {}, "current");
  runner.reset();  // must not take anything out of the registry made after it
  EXPECT_EQ(ThreadRunnerList(), std::vector<TThreadRunner*>{current.get()});
}

#ifdef __linux__
std::string OsThreadName(std::uint32_t AId) {
  std::ifstream comm("/proc/self/task/" + std::to_string(AId) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

struct TNameCase {
  std::string Given;
  std::string OnOsThread;
};

class ThreadRunnerOsNameTest : public ThreadRunnerTest,
                               public ::testing::WithParamInterface<TNameCase> {};

TEST_P(ThreadRunnerOsNameTest, OsThreadCarriesTheNameWithinLinuxLimit) {
  TManualResetEvent release;
  auto runner = std::make_unique<TThreadRunner>([&](TThreadRunner*) { release.Wait(); },
                                                GetParam().Given);
  EXPECT_EQ(OsThreadName(runner->ThreadID()), GetParam().OnOsThread);
  EXPECT_EQ(runner->ThreadName(), GetParam().Given) << "the runner keeps the full name";
  runner->Start();
  release.SetEvent();
  runner->WaitFor();
}

INSTANTIATE_TEST_SUITE_P(
    Names, ThreadRunnerOsNameTest,
    ::testing::Values(TNameCase{"Flash thread", "Flash thread"},
                      TNameCase{"exactly15bytes!", "exactly15bytes!"},
                      TNameCase{"sixteen bytes!!!", "sixteen bytes!!"},
                      // a two-byte character across the limit is left out whole
                      TNameCase{"fourteen bytes\xC4\x8D", "fourteen bytes"}));
#endif

}  // namespace
