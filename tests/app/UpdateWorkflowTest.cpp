// The whole firmware update through the real main window on the simulated
// board, and the ways it can go wrong.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <map>

#include "AppHarness.h"
#include "SystemColors.h"

namespace {

using TMemory = std::map<uint32_t, uint8_t>;

constexpr uint32_t kRamLoader = 0x2500;
constexpr uint32_t kCode = 0x4400;
constexpr uint32_t kVectors = 0xFFE0;
constexpr uint32_t kMainFlashEnd = 0x24400;

// One TI-TXT section: "@ADDR" and lines of 16 bytes, recorded in AMemory.
QString Section(uint32_t AAddress, int ABytes, uint8_t ASeed, TMemory* AMemory) {
  QString text = QString("@%1\n").arg(AAddress, 4, 16, QChar('0')).toUpper();
  for (int i = 0; i < ABytes; ++i) {
    const uint8_t b = static_cast<uint8_t>(ASeed + i * 7);
    if (AMemory != nullptr) (*AMemory)[AAddress + i] = b;
    text += QString("%1").arg(b, 2, 16, QChar('0')).toUpper();
    text += (i % 16 == 15 || i == ABytes - 1) ? "\n" : " ";
  }
  return text;
}

QString LoaderImage() { return Section(kRamLoader, 64, 0x11, nullptr) + "#2500\nq\n"; }

QString FirmwareImage(TMemory* AMemory) {
  return Section(kCode, 160, 0x31, AMemory) + "SET\n" + Section(kVectors, 32, 0x80, AMemory) + "q\n";
}

void AddRecord(TMemory& AMemory, uint32_t AAddress, const std::string& AText) {
  AMemory[AAddress] = static_cast<uint8_t>(AText.size());
  for (int i = 0; i < 40; ++i)
    AMemory[AAddress + 1 + i] = i < static_cast<int>(AText.size()) ? static_cast<uint8_t>(AText[i]) : 0;
}

class UpdateTest : public ::testing::Test {
 protected:
  void Start(const std::string& ASimList) {
    app = std::make_unique<TAppHarness>(ASimList);
    if (ASimList.rfind("board", 0) == 0) {
      ASSERT_TRUE(app->WaitForLine("  - VID: 2047, PID: 0200"));
    }
  }
  void WriteImages(const QString& ALoader, const QString& AFirmware) {
    WriteFile("kestrova.1.ldr.txt", ALoader);
    WriteFile("kestrova.2.fw.txt", AFirmware);
  }
  void WriteFile(const QString& AName, const QString& AText) {
    QFile f(app->Folder() + AName);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(AText.toUtf8());
  }
  // Presses the update button and waits for the worker to end.
  void RunUpdate(int ATimeoutMs = 30000) {
    app->Main().btnSave->click();
    ASSERT_TRUE(WaitUntil([this] { return app->Main().RunningUpdate() == nullptr; }, ATimeoutMs));
    QCoreApplication::processEvents();
  }
  sim::TSimBoard& Board() { return *app->Sim().Boards().front(); }
  void ExpectIdleWindow() {
    TfKestrovaLoader_Main& w = app->Main();
    EXPECT_EQ(w.pgc1->currentWidget(), w.ts1);
    EXPECT_FALSE(w.pnlMainUpdate->isVisibleTo(w.ts2));
    EXPECT_TRUE(w.btnSave->isEnabled());
    EXPECT_TRUE(w.edtApn->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(app->LogLines().last(), "Flash thread - End");
  }
  QColor StepColor(QLabel* ALabel) { return ALabel->palette().color(QPalette::WindowText); }

  std::unique_ptr<TAppHarness> app;
  TBoxAnswerer boxes{{QMessageBox::Ok}};
};

TEST_F(UpdateTest, SuccessfulUpdateWritesTheImageAndTheSettingsInOrder) {
  Start("board:return-delay=200");
  TMemory expected;
  WriteImages(LoaderImage(), FirmwareImage(&expected));
  AddRecord(expected, 0xFE00, "internet");
  AddRecord(expected, 0xFE29, "user");
  AddRecord(expected, 0xFE52, "40817");
  RunUpdate();

  EXPECT_EQ(boxes.Texts(), QStringList{"Firmware & Settings were sucesfully uploaded!"});
  const QStringList lines = app->LogLines();
  const QStringList order = {"Flash thread - Start", "WRITE DATA [0xFE00]: internet",
                             "WRITE DATA [0xFE29]: user", "WRITE DATA [0xFE52]: 40817",
                             "Firmware update complete",
                             "Firmware & Settings were sucesfully uploaded!", "Flash thread - End"};
  int last = -1;
  for (const QString& line : order) {
    const int at = lines.indexOf(line, last + 1);
    ASSERT_GT(at, last) << line.toStdString();
    last = at;
  }
  EXPECT_TRUE(lines.contains("Device removed:"));  // the board left and came back
  EXPECT_EQ(StepColor(app->Main().pnlMainUpdate->lblStatusStep3), ToQColor(clGreen));
  ExpectIdleWindow();

  // Main flash holds exactly the image and the settings block.
  const std::vector<uint8_t> flash = Board().ReadMemory(kCode, kMainFlashEnd - kCode);
  for (uint32_t a = kCode; a < kMainFlashEnd; ++a) {
    const auto it = expected.find(a);
    ASSERT_EQ(flash[a - kCode], it == expected.end() ? 0xFF : it->second) << std::hex << a;
  }
}

// Every device the search for the board examines is logged.
TEST_F(UpdateTest, NoBoardMeansStartAndEndOnly) {
  Start("keyboard,mouse");
  WriteImages(LoaderImage(), FirmwareImage(nullptr));
  RunUpdate();
  EXPECT_TRUE(boxes.Texts().isEmpty());
  const QStringList lines = app->LogLines();
  const int start = lines.indexOf("Flash thread - Start");
  ASSERT_GE(start, 0);
  EXPECT_TRUE(lines.value(start + 1).startsWith(" xx - VID: "));
  EXPECT_TRUE(lines.value(start + 2).startsWith(" xx - VID: "));
  EXPECT_EQ(lines.value(start + 3), "Flash thread - End");
  ExpectIdleWindow();
}

TEST_F(UpdateTest, MissingImagesAreNamedAndNoWorkerStarts) {
  Start("board");
  app->Main().btnSave->click();
  WriteFile("kestrova.1.ldr.txt", LoaderImage());
  app->Main().btnSave->click();
  ASSERT_EQ(boxes.Texts().size(), 2);
  EXPECT_EQ(boxes.Texts()[0], "FW (loader) file \"" + app->Folder() + "kestrova.1.ldr.txt\" not found !");
  EXPECT_EQ(boxes.Texts()[1], "FW (application) file \"" + app->Folder() + "kestrova.2.fw.txt\" not found !");
  // Beneath each: the folder both images go into.
  const QString where = "Copy both firmware images, kestrova.1.ldr.txt and kestrova.2.fw.txt, into the folder \"" +
                        app->Folder().chopped(1) + "\".";
  EXPECT_EQ(boxes.Details(), QStringList({where, where}));
  EXPECT_FALSE(app->LogLines().contains("Flash thread - Start"));
}

TEST_F(UpdateTest, RefusedPasswordShowsTheLoaderFailureAndNeverOpensTheImage) {
  Start("board:refuse-password");
  WriteImages(LoaderImage(), FirmwareImage(nullptr));
  RunUpdate();
  EXPECT_EQ(boxes.Texts(), QStringList{"Bootloader upload failure!"});
  // The cause beneath the text, and as a red line.
  EXPECT_EQ(boxes.Details(), QStringList{"The board refused the password.\nDisconnect the board, press its button "
                                         "while connecting it, and try again."});
  EXPECT_TRUE(app->LogLines().contains("The board refused the password; disconnect the board, press its button "
                                       "while connecting it, and try again"));
  EXPECT_EQ(StepColor(app->Main().pnlMainUpdate->lblStatusStep1), ToQColor(clRed));
  for (const QString& line : app->LogLines()) EXPECT_FALSE(line.startsWith("Begin flashing file"));
  ExpectIdleWindow();
}

// An image without its end line, or with a line that cannot be read, is
// refused before anything goes to the board (the flasher never sees it).
TEST_F(UpdateTest, LoaderImageWithoutEndLineIsRefusedBeforeTheBoardIsTouched) {
  Start("board:no-return");
  WriteImages(Section(kRamLoader, 16, 1, nullptr), FirmwareImage(nullptr));
  RunUpdate();
  ASSERT_EQ(boxes.Texts().size(), 1);
  EXPECT_TRUE(boxes.Texts()[0].contains("kestrova.1.ldr.txt"));
  EXPECT_TRUE(boxes.Texts()[0].endsWith("The board was not changed."));
  EXPECT_EQ(Board().ReportsReceived(), 0u);
  ExpectIdleWindow();
}

TEST_F(UpdateTest, FirmwareWithoutEndLineIsRefusedWithNothingSent) {
  Start("board:return-delay=100");
  WriteImages(LoaderImage(), Section(kCode, 32, 5, nullptr));
  RunUpdate();
  ASSERT_EQ(boxes.Texts().size(), 1);
  EXPECT_TRUE(boxes.Texts()[0].contains("kestrova.2.fw.txt"));
  EXPECT_EQ(StepColor(app->Main().pnlMainUpdate->lblStatusStep1), ToQColor(clBlue));
  EXPECT_EQ(Board().ReportsReceived(), 0u);
  EXPECT_EQ(app->Main().HidCtl1->NumCheckedOutDevices(), 0);
  ExpectIdleWindow();
}

TEST_F(UpdateTest, UnreadableLineIsRefusedAndTheBoardStaysReadyForTheNextUpdate) {
  Start("board");
  WriteImages("@25Z0\n" + LoaderImage(), FirmwareImage(nullptr));
  RunUpdate();
  ASSERT_EQ(boxes.Texts().size(), 1);
  EXPECT_TRUE(boxes.Texts()[0].contains("Line 1: "));
  EXPECT_TRUE(app->LogLines().contains(boxes.Texts()[0].split('\n').first()));
  EXPECT_EQ(app->Main().HidCtl1->NumCheckedOutDevices(), 0);
  ExpectIdleWindow();

  // The board is found again without reconnecting, and this time it works.
  TMemory expected;
  WriteImages(LoaderImage(), FirmwareImage(&expected));
  RunUpdate();
  EXPECT_EQ(boxes.Texts().last(), "Firmware & Settings were sucesfully uploaded!");
}

TEST_F(UpdateTest, BoardUnpluggedDuringTheApplicationImageIsNoSuccess) {
  Start("board:return-delay=100");
  QString firmware = Section(kCode, 16 * 200, 9, nullptr) + "SET\nq\n";
  WriteImages(LoaderImage(), firmware);
  app->Main().btnSave->click();
  ASSERT_TRUE(WaitUntil([this] { return app->LogLines().filter(QRegularExpression("^line:20: ")).size() == 1; }, 20000));
  app->Sim().Bus().Unplug(&Board());
  ASSERT_TRUE(WaitUntil([this] { return app->Main().RunningUpdate() == nullptr; }, 60000));
  QCoreApplication::processEvents();
  // Not the guide page alone: a box says where the board left, and so does a red line.
  ASSERT_EQ(boxes.Texts().size(), 1);
  EXPECT_TRUE(boxes.Texts()[0].startsWith("The board left the bus while the firmware was written, after "))
      << boxes.Texts()[0].toStdString();
  EXPECT_EQ(boxes.Details()[0], "Reconnect it with its button pressed and run the update again.");
  EXPECT_EQ(app->LogLines().filter("The board left the bus while the firmware was written").size(), 1);
  EXPECT_EQ(app->Main().HidCtl1->NumCheckedOutDevices(), 0);
  ExpectIdleWindow();
}

TEST_F(UpdateTest, BoardThatNeverComesBackEndsTheWaitAfterAMinuteOfItsClock) {
  Start("board:no-return");
  // A clock that a sleep moves forward at once: the minute passes quickly.
  auto now = std::make_shared<std::atomic<int64_t>>(0);
  app->Main().Workflow().fTiming.Now = [now] {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(now->load()));
  };
  int attempts = 0;
  app->Main().Workflow().fTiming.Sleep = [now, &attempts](std::chrono::milliseconds d) {
    if (d.count() == 500) ++attempts;
    now->fetch_add(d.count());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  WriteImages(LoaderImage(), FirmwareImage(nullptr));
  RunUpdate();
  EXPECT_EQ(boxes.Texts(), QStringList{"The board did not come back under its new loader within 60 s."});
  EXPECT_EQ(attempts, 120);  // every 500 ms, for 60 s
  EXPECT_EQ(StepColor(app->Main().pnlMainUpdate->lblStatusStep2), ToQColor(clBlue));
  ExpectIdleWindow();
}

// The product's own clock: the wait for a board that never comes back lasts
// the full minute (the last attempt may come up to 500 ms after it).
TEST_F(UpdateTest, BoardThatNeverComesBackIsWaitedForOnTheRealClock) {
  Start("board:no-return");
  WriteImages(LoaderImage(), FirmwareImage(nullptr));
  app->Main().btnSave->click();
  ASSERT_TRUE(app->WaitForLine("End flashing file \"" + app->Folder() + "kestrova.1.ldr.txt\"."));
  const auto checkedIn = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([this] { return app->Main().RunningUpdate() == nullptr; }, 90000));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - checkedIn).count();
  EXPECT_GE(seconds, 60.0);
  EXPECT_LE(seconds, 62.0);
  EXPECT_EQ(boxes.Texts().size(), 1);
}

}  // namespace

// Two boards under their loader: the window names both ports, asks for the
// one board to update, and sends nothing to either.
TEST_F(UpdateTest, TwoBoardsAreNamedAndNeitherGetsAReport) {
  Start("board:port=1-1.1,board:port=1-1.2");
  WriteImages(LoaderImage(), FirmwareImage(nullptr));
  RunUpdate();
  EXPECT_EQ(boxes.Texts(),
            QStringList{"2 boards are connected under their loader (1-1.1 and 1-1.2), and the update takes one board."});
  EXPECT_EQ(boxes.Details(), QStringList{"Connect only the board to update, and try again."});
  for (const auto& board : app->Sim().Boards()) EXPECT_EQ(board->ReportsReceived(), 0u);
  EXPECT_EQ(app->Main().HidCtl1->NumCheckedOutDevices(), 0);
  ExpectIdleWindow();
}

TEST_F(UpdateTest, ABoardThatCannotBeOpenedIsNamedWithReasonAndFixAndGetsNoReport) {
  Start("board");
  WriteImages(LoaderImage(), FirmwareImage(nullptr));
  Board().CanOpenReadWrite = false;  // as a node the user may not open
  RunUpdate();
  const std::string path = "sim:hid#" + std::to_string(app->Sim().Bus().DeviceID(&Board()));
  const QString expected = QString::fromStdString(
      "The board was found at " + path + " but cannot be opened for reading and writing.\n"
      "Reason: Access is denied. (error 5).\n"
      "Close every other program that uses the board, then try again.");
  EXPECT_EQ(boxes.Texts(), QStringList{expected});
  EXPECT_TRUE(app->LogLines().contains(expected.split('\n').first()));
  EXPECT_EQ(Board().ReportsReceived(), 0u) << "no report was sent";
  EXPECT_EQ(app->Main().HidCtl1->NumCheckedOutDevices(), 0);
  ExpectIdleWindow();
}

// A character the board cannot store is named before anything is sent:
// Cancel leaves the board and the page as they were, "Send anyway" sends
// the low byte as before.
TEST(SettingsQuestion, CharactersTheBoardCannotStoreAreAskedAboutFirst) {
  TBoxAnswerer boxes({QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::Ok});
  TAppHarness app("board:return-delay=100");
  ASSERT_TRUE(app.WaitForLine("  - VID: 2047, PID: 0200"));
  for (const auto& [name, text] : {std::pair{"kestrova.1.ldr.txt", LoaderImage()},
                                   std::pair{"kestrova.2.fw.txt", FirmwareImage(nullptr)}}) {
    QFile f(app.Folder() + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
  }
  TfKestrovaLoader_Main& w = app.Main();
  w.edtApn->setText(QString::fromUtf8("net.\u010D"));
  w.btnSave->click();
  ASSERT_EQ(boxes.Details(), QStringList{QString::fromUtf8("Access point name: \u010D (U+010D) would be stored as 0Dh")});
  EXPECT_EQ(w.RunningUpdate(), nullptr);
  EXPECT_EQ(app.Sim().Boards().front()->ReportsReceived(), 0u);
  EXPECT_EQ(w.pgc1->currentWidget(), w.ts2);
  EXPECT_TRUE(w.edtApn->isEnabled());

  w.btnSave->click();
  ASSERT_TRUE(WaitUntil([&] { return w.RunningUpdate() == nullptr && boxes.Texts().size() == 3; }, 30000));
  EXPECT_EQ(boxes.Texts().last(), "Firmware & Settings were sucesfully uploaded!");
  EXPECT_EQ(app.Sim().Boards().front()->ReadMemory(0xFE00, 6), (std::vector<uint8_t>{5, 'n', 'e', 't', '.', 0x0D}));
}
