// What the main window logs and shows as devices come and go on the bus.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStackedWidget>

#include "AppHarness.h"
#include "SimDevices.h"

namespace {

const QStringList kBoardLines = {"Detected compatible HID device: ", "  - Velmora device",
                                 "  - VID: 2047, PID: 0200"};

TEST(DeviceDetection, BoardAndKeyboardPresentAtStartAreReportedAndTheSettingsShow) {
  TAppHarness app("keyboard,board");
  ASSERT_TRUE(app.WaitForLine("  - VID: 2047, PID: 0200"));
  const QStringList lines = app.LogLines();
  const int keyboard = lines.indexOf("Detected not compatible HID device: ");
  const int board = lines.indexOf(kBoardLines[0]);
  ASSERT_GE(keyboard, 0);
  ASSERT_GE(board, 0);
  EXPECT_EQ(lines.mid(board, 3), kBoardLines);
  EXPECT_TRUE(lines[keyboard + 1].startsWith("  - ") && lines[keyboard + 1].contains(" / "));
  EXPECT_TRUE(lines[keyboard + 2].startsWith("  - VID: ") && !lines[keyboard + 2].contains("2047"));
  EXPECT_EQ(app.Main().pgc1->currentWidget(), app.Main().ts2);
}

TEST(DeviceDetection, AKeyboardAloneLeavesTheGuide) {
  TAppHarness app("keyboard,mouse");
  ASSERT_TRUE(WaitUntil([&] { return app.LogLines().count("Detected not compatible HID device: ") == 2; }));
  EXPECT_EQ(app.Main().pgc1->currentWidget(), app.Main().ts1);
}

// A device in a bad state is named once in the log and does not hide the board.
TEST(DeviceDetection, ADeviceThatCannotBeOpenedIsLoggedAndTheBoardBesideItIsFound) {
  TAppHarness app;
  app.Sim().Bus().Plug(sim::MakeSimUnopenableDevice());
  app.Sim().Bus().Plug(sim::MakePlainSimBoard());
  ASSERT_TRUE(app.WaitForLine(kBoardLines[2]));
  const QStringList lines = app.LogLines();
  const int skipped = lines.indexOf(QRegularExpression("^HID device left out: .+"));
  ASSERT_GE(skipped, 0);
  EXPECT_TRUE(lines[skipped + 1].startsWith("  - Device cannot be opened")) << lines[skipped + 1].toStdString();
  EXPECT_EQ(lines.filter("HID device left out: ").size(), 1);
  EXPECT_EQ(app.Main().pgc1->currentWidget(), app.Main().ts2);
}

TEST(DeviceDetection, AnotherProductOfTheSameVendorIsNotCompatible) {
  TAppHarness app;
  auto other = sim::MakePlainSimBoard();
  other->ProductID = 0x0201;
  app.Sim().Bus().Plug(other);
  ASSERT_TRUE(app.WaitForLine("  - VID: 2047, PID: 0201"));
  EXPECT_TRUE(app.LogLines().contains("Detected not compatible HID device: "));
  EXPECT_EQ(app.Main().pgc1->currentWidget(), app.Main().ts1);
}

TEST(DeviceDetection, UnpluggingTheBoardWritesTheRemovalLinesAndKeepsThePage) {
  TAppHarness app;
  auto board = sim::MakePlainSimBoard();
  app.Sim().Bus().Plug(board);
  ASSERT_TRUE(app.WaitForLine(kBoardLines[2]));
  app.Sim().Bus().Unplug(board.get());
  ASSERT_TRUE(app.WaitForLine("Device removed:"));
  const QStringList lines = app.LogLines();
  const int removed = lines.indexOf("Device removed:");
  ASSERT_EQ(lines.size(), removed + 3);
  EXPECT_TRUE(lines[removed + 1].startsWith("  - "));
  EXPECT_EQ(lines[removed + 2], "  - VID: 2047, PID: 0200");
  EXPECT_EQ(app.Main().pgc1->currentWidget(), app.Main().ts2);
}

}  // namespace
