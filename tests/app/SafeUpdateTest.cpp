// Safe flashing through the real main window: images refused before the
// board is touched, what was written verified, and every way out of an
// update sound, the window's end during the wait included.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>

#include "AppHarness.h"
#include "Orvik.ThreadRunner.h"
#include "SystemColors.h"

namespace {

// Lines of 16 bytes from AAddress on.
QString Section(uint32_t AAddress, int ABytes, uint8_t ASeed) {
  QString text = QString("@%1\n").arg(AAddress, 4, 16, QChar('0')).toUpper();
  for (int i = 0; i < ABytes; ++i) {
    text += QString("%1").arg(static_cast<uint8_t>(ASeed + i * 7), 2, 16, QChar('0')).toUpper();
    text += (i % 16 == 15 || i == ABytes - 1) ? "\n" : " ";
  }
  return text;
}

const QString kLoader = Section(0x2500, 64, 0x11) + "#2500\nq\n";
const QString kFirmware = Section(0x4400, 160, 0x31) + "SET\n" + Section(0xFFE0, 32, 0x80) + "q\n";

class SafeUpdateTest : public ::testing::Test {
 protected:
  void Start(const std::string& ASimList) {
    app.reset();  // one window at a time
    app = std::make_unique<TAppHarness>(ASimList);
    ASSERT_TRUE(app->WaitForLine("  - VID: 2047, PID: 0200"));
  }
  void WriteFile(const QString& AName, const QString& AText) {
    QFile f(app->Folder() + AName);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(AText.toUtf8());
  }
  void WriteImages(const QString& ALoader, const QString& AFirmware) {
    WriteFile("kestrova.1.ldr.txt", ALoader);
    WriteFile("kestrova.2.fw.txt", AFirmware);
  }
  void RunUpdate(int ATimeoutMs = 30000) {
    app->Main().btnSave->click();
    ASSERT_TRUE(WaitUntil([this] { return app->Main().RunningUpdate() == nullptr; }, ATimeoutMs));
    QCoreApplication::processEvents();
  }
  void ExpectIdleWindow() {
    TfKestrovaLoader_Main& w = app->Main();
    EXPECT_EQ(w.pgc1->currentWidget(), w.ts1);
    EXPECT_FALSE(w.pnlMainUpdate->isVisibleTo(w.ts2));
    EXPECT_TRUE(w.btnSave->isEnabled());
    EXPECT_TRUE(w.edtPassword->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(app->LogLines().last(), "Flash thread - End");
    EXPECT_EQ(w.HidCtl1->NumCheckedOutDevices(), 0);
  }
  sim::TSimBoard& Board() { return *app->Sim().Boards().front(); }
  QColor StepColor(QLabel* ALabel) { return ALabel->palette().color(QPalette::WindowText); }

  std::unique_ptr<TAppHarness> app;
  TBoxAnswerer boxes{{QMessageBox::Ok}};
};

TEST_F(SafeUpdateTest, GoodImageIsVerifiedBeforeTheSuccessLine) {
  Start("board:return-delay=50");
  WriteImages(kLoader, kFirmware);
  RunUpdate();
  EXPECT_EQ(boxes.Texts(), QStringList{"Firmware & Settings were sucesfully uploaded!"});
  const QStringList lines = app->LogLines();
  const QStringList verify = lines.filter(QRegularExpression("^VERIFY "));
  // The code, the settings records, the vectors: one line each.
  ASSERT_EQ(verify.size(), 3) << lines.join('\n').toStdString();
  EXPECT_TRUE(verify[0].startsWith("VERIFY 00004400h-0000449Fh: CRC "));
  EXPECT_TRUE(verify[1].startsWith("VERIFY 0000FE00h-0000FE7Ah: CRC "));
  const int complete = lines.lastIndexOf("Firmware update complete");
  const int firstVerify = lines.indexOf(verify[0]);
  const int lastVerify = lines.indexOf(verify[2]);
  const int success = lines.indexOf("Firmware & Settings were sucesfully uploaded!");
  EXPECT_LT(complete, firstVerify);
  EXPECT_LT(lastVerify, success);
  EXPECT_EQ(StepColor(app->Main().pnlMainUpdate->lblStatusStep3), ToQColor(clGreen));
  ExpectIdleWindow();
}

// The colour of the log line that begins with AText, as shown.
QColor LogColor(const QString& AText) {
  for (QTextBlock b = fKestrovaLoader_Log->redtLog->document()->begin(); b.isValid(); b = b.next()) {
    const int at = b.text().indexOf(AText);
    if (at < 0) continue;
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (it.fragment().position() - b.position() + it.fragment().length() > at)
        return it.fragment().charFormat().foreground().color();
  }
  return {};
}

// A refused image: the file, its line and the reason in one box and in red
// in the log; the board (holding an older firmware) receives nothing.
TEST_F(SafeUpdateTest, RefusedImagesLeaveTheOldFirmwareByteForByte) {
  struct TCase {
    const char* What;
    QString Loader, Firmware;
    const char* File;
    int Line;
    const char* Reason;
  };
  const TCase cases[] = {
      {"odd digit", kLoader, "@4400\n31 40 0\nq\n", "kestrova.2.fw.txt", 2, "is not hexadecimal byte pairs"},
      {"bad separator", kLoader, "@4400\n31,40\nq\n", "kestrova.2.fw.txt", 2, "is not hexadecimal byte pairs"},
      {"address past 0xFFFFF", kLoader, "@4400\n00\n@100000\n00\nq\n", "kestrova.2.fw.txt", 3,
       "beyond the last address"},
      {"loader without start", Section(0x2500, 64, 0x11) + "q\n", kFirmware, "kestrova.1.ldr.txt", 6,
       "the loader has no start line"},
      {"settings records", kLoader, "@FE00\n01\nq\n", "kestrova.2.fw.txt", 2, "writes into the settings records"},
      {"no end line", kLoader, Section(0x4400, 32, 5), "kestrova.2.fw.txt", 3, "without the end line"},
  };
  QTemporaryDir oldDir;
  const QString old = oldDir.path() + "/old.txt";
  {
    QFile f(old);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write((Section(0x4400, 256, 0x5A) + Section(0xFFE0, 32, 0x77) + "q\n").toUtf8());
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Start("board:firmware=" + old.toStdString());
    const std::vector<uint8_t> before = Board().ReadMemory(0x1800, 0x24400 - 0x1800);
    ASSERT_EQ(before[0x4400 - 0x1800], 0x5A);
    WriteImages(c.Loader, c.Firmware);
    const int shown = boxes.Texts().size();
    RunUpdate();
    ASSERT_EQ(boxes.Texts().size(), shown + 1);
    const QString text = boxes.Texts().last();
    EXPECT_TRUE(text.contains(app->Folder() + c.File)) << text.toStdString();
    EXPECT_TRUE(text.contains(QString("Line %1: ").arg(c.Line))) << text.toStdString();
    EXPECT_TRUE(text.contains(c.Reason)) << text.toStdString();
    EXPECT_TRUE(text.endsWith("The board was not changed."));
    const QString first = text.split('\n').first();
    EXPECT_TRUE(app->LogLines().contains(first));
    EXPECT_EQ(LogColor(first), ToQColor(clRed));
    EXPECT_EQ(Board().ReportsReceived(), 0u);
    EXPECT_TRUE(Board().ReadMemory(0x1800, 0x24400 - 0x1800) == before);
    ExpectIdleWindow();
  }
}

// A report lost on the bus in the application image: verification finds
// it, and the update says so instead of reporting success.
TEST_F(SafeUpdateTest, LostWriteEndsWithTheVerificationBoxNeverSuccess) {
  Start("board:return-delay=50:lose-write=3");
  WriteImages(kLoader, kFirmware);
  RunUpdate();
  EXPECT_EQ(boxes.Texts(), QStringList{"The firmware on the board is not correct. Run the update again."});
  const QStringList lines = app->LogLines();
  EXPECT_FALSE(lines.contains("Firmware & Settings were sucesfully uploaded!"));
  const QStringList mismatch = lines.filter(QRegularExpression("^VERIFY 00004400h-0000449Fh: CRC on the board "));
  ASSERT_EQ(mismatch.size(), 1) << lines.join('\n').toStdString();
  EXPECT_EQ(LogColor(mismatch[0]), ToQColor(clRed));
  EXPECT_EQ(StepColor(app->Main().pnlMainUpdate->lblStatusStep1), ToQColor(clGreen));
  EXPECT_EQ(StepColor(app->Main().pnlMainUpdate->lblStatusStep3), ToQColor(clRed));
  ExpectIdleWindow();
}

// Anything thrown in the worker, a std::exception or not, is logged and
// the window comes back unlocked.
TEST_F(SafeUpdateTest, ObjectThatIsNoStdExceptionStillUnlocksTheControls) {
  Start("board:return-delay=50");
  WriteImages(kLoader, kFirmware);
  app->Main().Workflow().fTiming.Sleep = [](std::chrono::milliseconds) { throw 42; };
  RunUpdate();
  EXPECT_TRUE(app->LogLines().contains("Flash thread - Exception: unknown error"));
  EXPECT_TRUE(boxes.Texts().isEmpty());
  ExpectIdleWindow();

  // The Exit rule sees no update any more: Exit closes at once.
  EXPECT_EQ(app->Main().RunningUpdate(), nullptr);
}

// The technician leaves (Exit, Yes with Ctrl) while the update waits for
// the board; the window goes while the worker sleeps, polls or reports.
// Each round frees the window at another point of the wait.
TEST(SafeExit, ExitDuringTheWaitRepeatedNeverCrashes) {
  constexpr int kRounds = 16;
  TBoxAnswerer yes({QMessageBox::Yes});
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    auto app = std::make_unique<TAppHarness>("board:no-return");
    ASSERT_TRUE(app->WaitForLine("  - VID: 2047, PID: 0200"));
    for (const auto& [name, text] : {std::pair{"kestrova.1.ldr.txt", kLoader}, std::pair{"kestrova.2.fw.txt", kFirmware}}) {
      QFile f(app->Folder() + name);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(text.toUtf8());
    }
    TfKestrovaLoader_Main& w = app->Main();
    w.fIsCtrlDown = [] { return true; };
    w.btnSave->click();
    ASSERT_TRUE(app->WaitForLine("End flashing file \"" + app->Folder() + "kestrova.1.ldr.txt\"."));
    // Into the wait by 0 to 750 ms: before, at and between the polls.
    WaitUntil([] { return false; }, (round * 50) % 800);
    ASSERT_NE(w.RunningUpdate(), nullptr);
    const int asked = yes.Texts().size();
    w.btnExit->click();
    ASSERT_EQ(yes.Texts().size(), asked + 1);
    EXPECT_TRUE(yes.Texts().last().startsWith("Attention! Flashing process is in progresss."));
    EXPECT_FALSE(w.isVisible());
    app.reset();  // the window goes; the harness waits for the worker to end
    EXPECT_EQ(ThreadRunnerCount(), 0);
  }
}

}  // namespace
