// The station window on a display (Xvfb in the test run), driven as an
// operator drives it: eight simulated boards, one with a fault that shows
// once; the serials typed into the field that has the keyboard; "Re-flash
// failed" pressed. And a station whose firmware changed after its file
// was written: nothing goes to any board. kestrova-flash --station on the
// same boards writes the same record lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <functional>
#include <set>
#include <regex>
#include <sstream>

#include "CliTestImages.h"
#include "FlashRunner.h"
#include "GivenSerials.h"
#include "Sha256.h"
#include "SimBoard.h"
#include "SimSession.h"
#include "StationTile.h"
#include "StationWindow.h"

using testing::HasSubstr;

namespace {

constexpr int kBoards = 8;
constexpr int kOnceFaulty = 5;  // the board at 1-1.5 refuses the password at its first update

std::string Sha256OfFile(const std::string& AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return Sha256Hex(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

std::vector<std::string> FileLines(const std::string& AFile) {
  std::ifstream in(AFile);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Port(int AIndex) { return "1-1." + std::to_string(AIndex); }

// Waits, handling the window's events, until ADone or 60 s.
bool WaitFor(const std::function<bool()>& ADone) {
  QElapsedTimer clock;
  clock.start();
  while (!ADone() && clock.elapsed() < 60000) QTest::qWait(20);
  return ADone();
}

class StationWindowTest : public testing::Test {
 protected:
  // The station file of eight slots over the images; the record beside it.
  void WriteStation(bool ASerials = true) {
    std::string ports;
    for (int i = 1; i <= kBoards; ++i) ports += "<port path=\"" + Port(i) + "\" label=\"Slot " + std::to_string(i) + "\"/>";
    Images.Write("station.xml",
                 "<station name=\"Šumperk A\" serial=\"" + std::string(ASerials ? "required" : "none") + "\">\n"
                 "  <loader file=\"kestrova.1.ldr.txt\" sha256=\"" + Sha256OfFile(Images.File("kestrova.1.ldr.txt")) + "\"/>\n"
                 "  <firmware file=\"kestrova.2.fw.txt\" sha256=\"" + Sha256OfFile(Images.File("kestrova.2.fw.txt")) + "\"/>\n"
                 "  <settings apn=\"internet\" login=\"user\" password=\"40817\"/>\n"
                 "  <ports>" + ports + "</ports>\n"
                 "  <record file=\"records.jsonl\"/>\n</station>\n");
  }
  static std::unique_ptr<TSimSession> Bench() {
    std::string list = "hub";
    for (int i = 1; i <= kBoards; ++i)
      list += ",board:port=" + Port(i) + ":die=4B530518-000" + std::to_string(i) + "-0001:return-delay=100" +
              (i == kOnceFaulty ? ":refuse-password:once" : "");
    return TSimSession::FromList(list);
  }
  std::unique_ptr<TStationWindow> Open(TSimSession& ASession) {
    TStationSetup setup;
    setup.File = Images.File("station.xml");
    setup.Platform = &ASession.Bus();
    auto window = std::make_unique<TStationWindow>(std::move(setup));
    window->resize(1280, 800);
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    return window;
  }
  // What the tile of board AIndex shows: its verdict once it ended, else its state.
  static QString TileShows(QWidget& AWindow, int AIndex) {
    auto* tile = AWindow.findChild<QWidget*>(QString::fromStdString("tile-" + Port(AIndex)));
    if (!tile) return {};
    auto* verdict = tile->findChild<QLabel*>("verdict");
    return verdict->isVisible() ? verdict->text() : tile->findChild<QLabel*>("state")->text();
  }
  // The tiles whose boards started (or ended), and those asking for a serial.
  static int Count(QWidget& AWindow, const std::function<bool(const QString&)>& AShows) {
    int count = 0;
    for (int i = 1; i <= kBoards; ++i) count += AShows(TileShows(AWindow, i)) ? 1 : 0;
    return count;
  }
  static bool Scanning(const QString& AShows) { return AShows == "Scan the serial"; }
  static bool Started(const QString& AShows) {
    return !Scanning(AShows) && AShows != "Board connected" && !AShows.startsWith("Waiting");
  }

  clitest::TImageFolder Images;
};

// The whole bench: each board waits for its serial on its tile, takes the
// one typed next, and ends PASS, but for the faulty one (FAIL, with its
// cause); "Re-flash failed" passes it without unplugging it.
TEST_F(StationWindowTest, EightBoardsSerialsAndReflash) {
  WriteStation();
  auto session = Bench();
  auto window = Open(*session);
  const std::string record = Images.File("records.jsonl");
  auto* serial = window->findChild<QLineEdit*>("serial");
  ASSERT_NE(serial, nullptr);
  ASSERT_EQ(QApplication::focusWidget(), serial);
  QTest::keyClicks(serial, "SN-LOST");  // nobody waits yet: refused, and said
  QTest::keyClick(serial, Qt::Key_Return);
  EXPECT_THAT(window->findChild<QLabel*>("status")->text().toStdString(), HasSubstr("no board waits"));
  // Each board in turn asks for its serial on its tile and starts with it.
  for (int i = 1; i <= kBoards; ++i) {
    ASSERT_TRUE(WaitFor([&] { return Count(*window, &Scanning) == 1; })) << i;
    ASSERT_EQ(QApplication::focusWidget(), serial) << "the serial field keeps the keyboard";
    QTest::keyClicks(serial, QString("SN-%1").arg(i));
    QTest::keyClick(serial, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return Count(*window, &Started) == i; })) << i;
  }
  ASSERT_TRUE(WaitFor([&] { return FileLines(record).size() == kBoards; })) << FileLines(record).size();
  ASSERT_TRUE(WaitFor([&] { return Count(*window, [](const QString& AShows) { return AShows.size() == 4; }) == kBoards; }));
  for (int i = 1; i <= kBoards; ++i) EXPECT_EQ(TileShows(*window, i), i == kOnceFaulty ? "FAIL" : "PASS") << i;
  auto* failedTile = window->findChild<QWidget*>(QString::fromStdString("tile-" + Port(kOnceFaulty)));
  EXPECT_THAT(failedTile->findChild<QLabel*>("cause")->text().toStdString(), HasSubstr("refused the password"));

  QTest::mouseClick(window->findChild<QPushButton*>("reflash"), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return FileLines(record).size() == kBoards + 1; }));
  ASSERT_TRUE(WaitFor([&] { return TileShows(*window, kOnceFaulty) == "PASS"; }));
  const std::vector<std::string> lines = FileLines(record);
  std::set<std::string> ports, ids;
  for (const std::string& line : std::vector<std::string>(lines.begin(), lines.end() - 1)) {
    std::smatch port, id, serialOf;
    ASSERT_TRUE(std::regex_search(line, port, std::regex("\"port\":\"(1-1\\.[1-8])\"")));
    ASSERT_TRUE(std::regex_search(line, serialOf, std::regex("\"serial\":\"SN-[1-8]\",\"station\":\"Šumperk A\"")));
    if (std::regex_search(line, id, std::regex("\"board_id\":\"([0-9A-F-]+)\""))) ids.insert(id[1]);
    ports.insert(port[1]);
  }
  EXPECT_EQ(ports.size(), 8u);
  EXPECT_EQ(ids.size(), 7u) << "the board that refused the password was not identified";
  EXPECT_THAT(lines.back(), HasSubstr("\"port\":\"" + Port(kOnceFaulty) + "\""));
  EXPECT_THAT(lines.back(), HasSubstr("\"result\":\"success\""));
  window.reset();

  // kestrova-flash --station on the same bench, the serials on its input,
  // writes the same lines, time and seconds aside.
  auto cliSession = Bench();
  std::filesystem::rename(record, record + ".window");
  std::ostringstream out, err;
  TFlashRunner runner(ParseCliOptions({"--station", Images.File("station.xml")}), {out, err, false}, &cliSession->Bus());
  runner.SetSerials(std::make_unique<TGivenSerials>("SN-1\nSN-2\nSN-3\nSN-4\nSN-5\nSN-6\nSN-7\nSN-8\n"));
  EXPECT_EQ(runner.Run(), TExitCode::SomeFailed) << err.str();
  const auto comparable = [](std::vector<std::string> ALines) {
    for (std::string& line : ALines)
      line = std::regex_replace(line, std::regex("\"time\":\"[^\"]*\"|\"seconds\":[0-9.]+"), "");
    std::sort(ALines.begin(), ALines.end());
    return ALines;
  };
  EXPECT_EQ(comparable(FileLines(record)), comparable(std::vector<std::string>(lines.begin(), lines.end() - 1)));
}

// An image changed by one byte after the station file pinned it: the window
// names the file and both checksums, and no board hears a word.
TEST_F(StationWindowTest, ChangedImageSendsNothing) {
  WriteStation();
  const std::string pinned = Sha256OfFile(Images.File("kestrova.2.fw.txt"));
  std::ifstream in(Images.File("kestrova.2.fw.txt"), std::ios::binary);
  std::string firmware((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  firmware[7] = firmware[7] == '0' ? '1' : '0';  // the first data byte's high digit
  Images.Write("kestrova.2.fw.txt", firmware);
  const std::string changed = Sha256OfFile(Images.File("kestrova.2.fw.txt"));
  auto session = Bench();
  auto window = Open(*session);
  auto* refused = window->findChild<QLabel*>("refused");
  ASSERT_TRUE(WaitFor([&] { return refused->isVisible() && !refused->text().isEmpty(); }));
  const std::string text = refused->text().toStdString();
  EXPECT_THAT(text, HasSubstr(Images.File("kestrova.2.fw.txt")));
  EXPECT_THAT(text, HasSubstr(pinned));
  EXPECT_THAT(text, HasSubstr(changed));
  QTest::qWait(1000);
  for (const auto& board : session->Boards()) EXPECT_EQ(board->ReportsReceived(), 0u);
  EXPECT_TRUE(FileLines(Images.File("records.jsonl")).empty());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
