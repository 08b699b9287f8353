// The station window's parts as the station drives them: calls made on the
// station's thread reach the main thread in order, with their own copies,
// and never an object that has gone; the tiles follow the station file's
// slots, or the ports where boards appear.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGridLayout>
#include <QPointer>
#include <QThread>
#include <memory>
#include <thread>

#include "MainThreadFront.h"
#include "StationTile.h"
#include "StationTiles.h"

namespace {

// What reached the window's side, and whether all of it on the main thread.
class TRecordingFront : public IStationFront {
 public:
  std::vector<std::string> Calls;
  bool OffMainThread = false;

  void Header(const TStationHeader& AHeader) override { Note("header " + AHeader.Name); }
  void Bus(const std::vector<std::string>& AUnlisted, bool) override { Note("bus " + AUnlisted.at(0)); }
  void Refused(const std::string& AText) override { Note("refused " + AText); }
  void Arrived(const std::string& APort) override { Note("arrived " + APort); }
  void WaitsForSerial(const std::string& APort) override { Note("waits " + APort); }
  void Started(const std::string& APort, const std::string& ASerial) override { Note("started " + APort + " " + ASerial); }
  void Progress(const std::string& APort, const std::string& AStep, int APercent) override {
    Note("progress " + APort + " " + AStep + " " + std::to_string(APercent));
  }
  void LogLine(const std::string& APort, const std::string& AText, TColor) override { Note("log " + APort + " " + AText); }
  void Ended(const std::string& APort, const TTileResult& AResult, const TShiftTotals& ATotals) override {
    Note("ended " + APort + " " + AResult.Serial + " " + std::to_string(ATotals.Passed));
  }
  void Said(const std::string& AText) override { Note("said " + AText); }

 private:
  void Note(std::string ACall) {
    OffMainThread = OffMainThread || QThread::currentThread() != qApp->thread();
    Calls.push_back(std::move(ACall));
  }
};

TTileResult Result(bool APassed, const std::string& ACause, const std::string& ASerial) {
  TTileResult result;
  result.Passed = APassed;
  result.Cause = ACause;
  result.Serial = ASerial;
  return result;
}

// As the station does: values that change or go right after each call.
void DriveOneBoard(IStationFront& AFront) {
  std::string port = "1-1.1";
  std::string text = "1. Upload bootloader";
  AFront.Arrived(port);
  AFront.Started(port, "SN-7");
  AFront.Progress(port, text, 40);
  text = "changed";
  AFront.LogLine(port, "Update - Start", clBlack);
  TShiftTotals totals;
  totals.Passed = 1;
  AFront.Ended(port, Result(true, "", "SN-7"), totals);
  port = "changed";
  AFront.Said("record written");
}

TEST(StationFront, StationThreadCallsReachTheMainThreadInOrderWithTheirValues) {
  QObject context;
  TRecordingFront target;
  TMainThreadFront front(context, target);
  std::thread([&front] { DriveOneBoard(front); }).join();
  EXPECT_TRUE(target.Calls.empty());  // queued: the station's thread never waits for the window
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(target.Calls, (std::vector<std::string>{"arrived 1-1.1", "started 1-1.1 SN-7",
                                                    "progress 1-1.1 1. Upload bootloader 40",
                                                    "log 1-1.1 Update - Start", "ended 1-1.1 SN-7 1",
                                                    "said record written"}));
  EXPECT_FALSE(target.OffMainThread);
}

TEST(StationFront, CallsStillQueuedWhenTheWindowGoesAreDropped) {
  auto context = std::make_unique<QObject>();
  TRecordingFront target;
  TMainThreadFront front(*context, target);
  std::thread([&front] { DriveOneBoard(front); }).join();
  context.reset();
  QCoreApplication::sendPostedEvents();
  EXPECT_TRUE(target.Calls.empty());
}

std::vector<TStationHeader::TSlot> Slots(int ACount) {
  std::vector<TStationHeader::TSlot> listed;
  for (int i = 1; i <= ACount; ++i) listed.push_back({"1-1." + std::to_string(i), "Slot " + std::to_string(i)});
  return listed;
}

TEST(StationTiles, EightListedSlotsStandInTwoRowsOfFourAndUnlistedPortsGetNone) {
  TStationTiles tiles(nullptr);
  tiles.SetSlots(Slots(8));
  auto* grid = qobject_cast<QGridLayout*>(tiles.layout());
  ASSERT_NE(grid, nullptr);
  int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
  TStationTile* fifth = tiles.findChild<TStationTile*>("tile-1-1.5");
  ASSERT_NE(fifth, nullptr);
  grid->getItemPosition(grid->indexOf(fifth), &row, &column, &rowSpan, &columnSpan);
  EXPECT_EQ(std::make_pair(row, column), std::make_pair(1, 0));
  EXPECT_EQ(fifth->Label(), "Slot 5");
  EXPECT_EQ(tiles.ForArrival("1-1.5"), fifth);
  EXPECT_EQ(tiles.ForArrival("1-1.9"), nullptr);
}

TEST(StationTiles, WithoutListedPortsATileComesWithTheFirstBoardAtAPort) {
  TStationTiles tiles(nullptr);
  tiles.SetSlots({});
  TStationTile* tile = tiles.ForArrival("1-1.3");
  ASSERT_NE(tile, nullptr);
  EXPECT_EQ(tile->objectName(), "tile-1-1.3");
  EXPECT_EQ(tiles.ForArrival("1-1.3"), tile);
  EXPECT_EQ(tiles.findChildren<TStationTile*>().size(), 1);
}

TEST(StationTiles, FileReadAgainKeepsAStayingSlotsResultAndDropsTheOthers) {
  TStationTiles tiles(nullptr);
  tiles.SetSlots(Slots(2));
  QPointer<TStationTile> kept = tiles.Find("1-1.1");
  QPointer<TStationTile> dropped = tiles.Find("1-1.2");
  kept->AddLogLine("Update - Start", clBlack);
  kept->Ended(Result(false, "The board refused the password", "SN-2"));
  tiles.SetSlots({{"1-1.1", "Slot A"}, {"1-1.3", "Slot 3"}});
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_FALSE(kept.isNull());
  EXPECT_EQ(tiles.Find("1-1.1"), kept.data());
  EXPECT_EQ(kept->Label(), "Slot A");
  EXPECT_EQ(kept->LogLines().size(), 1u);
  EXPECT_TRUE(dropped.isNull());
  EXPECT_NE(tiles.Find("1-1.3"), nullptr);
  kept->Arrived();  // the next board: its own log
  EXPECT_TRUE(kept->LogLines().empty());
}

}  // namespace

int main(int argc, char** argv) {
  // Also when ctest lists the cases, with no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
