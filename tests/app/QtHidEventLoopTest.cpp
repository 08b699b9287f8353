// The Qt-based HID event loop: posted work and descriptor watches run on
// the main thread, and errors end in the general error reporting instead of
// unwinding through Qt's event loop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <thread>

#include "ErrorReport.h"
#include "JvHidControllerClass.h"
#include "QtHidEventLoop.h"
#include "SimBus.h"
#include "SimDevices.h"

namespace {

std::vector<std::string> GReported;

}  // namespace

// The application's error reporting, recorded.
void ReportError(const std::string& AMessage) { GReported.push_back(AMessage); }

namespace {

constexpr int kWaitMs = 2000;  // generous bound for queued events to arrive

template <class F>
void ProcessUntil(F ADone) {
  QElapsedTimer LTimer;
  LTimer.start();
  while (!ADone() && LTimer.elapsed() < kWaitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class TQtHidEventLoopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int LArgc = 1;
    static char LName[] = "hid_qt_tests";
    static char* LArgv[] = {LName, nullptr};
    static QCoreApplication LApp(LArgc, LArgv);
  }
  void SetUp() override {
    GReported.clear();
    hid::SetEventLoop(&Loop);
  }
  void TearDown() override { hid::SetEventLoop(nullptr); }

  TQtHidEventLoop Loop;
};

TEST_F(TQtHidEventLoopTest, PostedWorkRunsOnTheMainThreadAndErrorsAreReported) {
  std::vector<std::string> LRan;
  std::thread([&] {
    Loop.Post([&] {
      EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
      LRan.push_back("first");
      throw std::runtime_error("Device cannot be identified");
    });
    Loop.Post([&] { LRan.push_back("second"); });
  }).join();
  EXPECT_TRUE(LRan.empty()) << "nothing runs before the loop does";
  ProcessUntil([&] { return LRan.size() == 2; });
  EXPECT_THAT(LRan, ::testing::ElementsAre("first", "second"));
  EXPECT_THAT(GReported, ::testing::ElementsAre("Device cannot be identified"));
}

TEST_F(TQtHidEventLoopTest, WatchedDescriptorCallsBackUntilUnwatched) {
  int LPipe[2];
  ASSERT_EQ(::pipe(LPipe), 0);
  int LCalls = 0;
  void* LWatch = Loop.WatchReadable(LPipe[0], [&] {
    char LByte;
    if (::read(LPipe[0], &LByte, 1) == 1) ++LCalls;
  });
  ASSERT_EQ(::write(LPipe[1], "x", 1), 1);
  ProcessUntil([&] { return LCalls == 1; });
  EXPECT_EQ(LCalls, 1);
  Loop.Unwatch(LWatch);
  ASSERT_EQ(::write(LPipe[1], "y", 1), 1);
  QElapsedTimer LTimer;
  LTimer.start();
  while (LTimer.elapsed() < 100) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(LCalls, 1);
  ::close(LPipe[0]);
  ::close(LPipe[1]);
}

TEST_F(TQtHidEventLoopTest, ControllerPassesRunFromTheLoopAndTheirErrorsAreReported) {
  sim::TSimBus LBus;
  LBus.Plug(sim::MakePlainSimBoard());
  TJvHidDeviceController LController(nullptr, &LBus);
  int LArrivals = 0;
  LController.OnArrival = [&](TJvHidDevice*) { ++LArrivals; };
  EXPECT_EQ(LArrivals, 0);
  ProcessUntil([&] { return LArrivals == 1; });
  EXPECT_EQ(LArrivals, 1);
  LController.OnArrival = [](TJvHidDevice*) { throw std::runtime_error("arrival handler failed"); };
  LBus.Plug(sim::MakeSimKeyboard());
  ProcessUntil([&] { return !GReported.empty(); });
  EXPECT_THAT(GReported, ::testing::ElementsAre("arrival handler failed"));
}

}  // namespace
