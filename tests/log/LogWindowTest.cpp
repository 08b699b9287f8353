#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ErrorReport.h"
#include "KestrovaVersion.h"
#include "LogViewTestUtil.h"
#include "QtPath.h"
#include "RtfTestUtil.h"
#include "StationFiles.h"
#include "Velmora.Utils.Log.h"
#include "ufKestrovaLoader_Log.h"

namespace {

class LogWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    LogWriterInitialize();
    station::SetFolderOverride(FsPath(dir.path()));
    SetBugReportFolder(dir.path().toStdString());
    SetErrorPresenter([this](const std::string& AText) { reported.push_back(AText); });
  }
  void TearDown() override {
    SetErrorPresenter({});
    station::SetFolderOverride({});
  }

  QString LogsFolder() const { return dir.filePath(QStringLiteral("logs")); }
  QStringList LogFiles() const {
    return QDir(LogsFolder()).entryList({QStringLiteral("*.log.rtf")}, QDir::Files);
  }
  // Names the log file would get now and in the next seconds.
  QStringList NamesAroundNow(int ASeconds) const {
    QStringList names;
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i <= ASeconds; ++i)
      names << now.addSecs(i).toString("yyyyMMdd-hhmmss") + ".log.rtf";
    return names;
  }

  QTemporaryDir dir;
  std::vector<std::string> reported;
};

TEST_F(LogWindowTest, CreationLogsApplicationStartAndTheVersionInGreyAndStaysHidden) {
  TfKestrovaLoader_Log w;
  EXPECT_FALSE(w.isVisible());
  const QTextDocument& doc = *w.redtLog->document();
  ASSERT_EQ(doc.blockCount(), 3);
  EXPECT_EQ(doc.firstBlock().text(), "");
  EXPECT_TRUE(doc.findBlockByNumber(1).text().endsWith("] Application start"));
  EXPECT_TRUE(doc.lastBlock().text().endsWith(QString("] KestrovaSetup ") + kKestrovaVersion));
  for (const QTextBlock& line : {doc.findBlockByNumber(1), doc.lastBlock()}) {
    const auto runs = Fragments(line);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].charFormat().foreground().color(), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(runs[1].charFormat().font().family(), "Courier New");
  }
}

TEST_F(LogWindowTest, LogMsgAppendsATimestampedLineInTheGivenColour) {
  TfKestrovaLoader_Log w;
  w.LogMsg(12, mtDebug, "3F 02 ", clBlue);
  w.LogMsg(4, mtSystem, "Grüße", clGreen);
  const QTextDocument& doc = *w.redtLog->document();
  ASSERT_EQ(doc.blockCount(), 5);
  static const QRegularExpression stamped(
      QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] 3F 02 $"));
  EXPECT_TRUE(stamped.match(doc.findBlockByNumber(3).text()).hasMatch())
      << doc.findBlockByNumber(3).text().toStdString();
  EXPECT_TRUE(doc.lastBlock().text().endsWith(QString::fromUtf8("] Grüße")));
  EXPECT_EQ(Fragments(doc.lastBlock())[1].charFormat().foreground().color(), QColor(0, 0x80, 0));
}

TEST_F(LogWindowTest, ClosingOnlyHidesAndCollectingGoesOn) {
  TfKestrovaLoader_Log w;
  w.show();
  EXPECT_TRUE(w.close());
  EXPECT_FALSE(w.isVisible());
  w.LogMsg(0, mtDebug, "after close", clBlack);
  EXPECT_TRUE(w.redtLog->document()->lastBlock().text().endsWith("] after close"));
}

TEST_F(LogWindowTest, WindowShownAfterALongHiddenRunShowsTheLatestLines) {
  TfKestrovaLoader_Log w;
  for (int i = 0; i < 500; ++i) w.LogMsg(2, mtDebug, "@4400 21 83 B2 40 80 5A 5C 01", clGray);
  w.LogMsg(0, mtDebug, "last line", clBlack);
  PumpUntil([] { return false; }, 100);
  w.show();
  QScrollBar* bar = w.redtLog->verticalScrollBar();
  EXPECT_TRUE(PumpUntil([&] { return bar->maximum() > 400 && bar->value() == bar->maximum(); }))
      << bar->value() << " of " << bar->maximum();
  const QPoint bottomLeft(2, w.redtLog->viewport()->height() - 4);
  EXPECT_EQ(w.redtLog->cursorForPosition(bottomLeft).block().text().right(9), "last line");
}

TEST_F(LogWindowTest, SaveCreatesMissingFolderAndNamesFileByTimeOfSaving) {
  ASSERT_FALSE(QFileInfo::exists(LogsFolder()));
  TfKestrovaLoader_Log w;
  const QStringList expected = NamesAroundNow(2);
  const QString path = w.SaveLogFile();
  EXPECT_EQ(QFileInfo(path).absolutePath(), QFileInfo(LogsFolder()).absoluteFilePath());
  EXPECT_TRUE(expected.contains(QFileInfo(path).fileName())) << path.toStdString();
  EXPECT_TRUE(QFileInfo(path).isFile());
}

TEST_F(LogWindowTest, ExistingFolderIsUsedAsItIs) {
  ASSERT_TRUE(QDir(dir.path()).mkdir("logs"));
  QFile marker(LogsFolder() + "/keep.txt");
  ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
  marker.close();
  TfKestrovaLoader_Log w;
  w.SaveLogFile();
  EXPECT_TRUE(QFileInfo::exists(LogsFolder() + "/keep.txt"));
  EXPECT_EQ(LogFiles().size(), 1);
}

// Two runs ending within the same second: neither log replaces the other.
TEST_F(LogWindowTest, ALogOfTheSameNameIsKeptAndTheNewOneGetsASuffix) {
  const QDateTime when(QDate(2016, 3, 14), QTime(9, 5, 7));
  TfKestrovaLoader_Log w;
  const QString first = w.SaveLogFile(when);
  QFile firstFile(first);
  ASSERT_TRUE(firstFile.open(QIODevice::ReadOnly));
  const QByteArray firstContent = firstFile.readAll();
  firstFile.close();
  w.LogMsg(0, mtDebug, "second run", clBlack);
  const QString second = w.SaveLogFile(when);
  const QString third = w.SaveLogFile(when);
  EXPECT_EQ(QFileInfo(first).fileName(), "20160314-090507.log.rtf");
  EXPECT_EQ(QFileInfo(second).fileName(), "20160314-090507-2.log.rtf");
  EXPECT_EQ(QFileInfo(third).fileName(), "20160314-090507-3.log.rtf");
  ASSERT_TRUE(firstFile.open(QIODevice::ReadOnly));
  EXPECT_EQ(firstFile.readAll(), firstContent);
  EXPECT_TRUE(PlainTextOfHtml(UnrtfHtml(second)).contains("second run"));
  EXPECT_EQ(LogFiles().size(), 3);
}

TEST_F(LogWindowTest, NeverShownWindowSavesOnDestructionWithEverything) {
  auto w = std::make_unique<TfKestrovaLoader_Log>();
  w->LogMsg(3, mtMessage, "Firmware update complete", clBlack);
  w.reset();
  ASSERT_EQ(LogFiles().size(), 1);
  const QString text =
      PlainTextOfHtml(UnrtfHtml(LogsFolder() + "/" + LogFiles().first()));
  EXPECT_TRUE(text.contains("] Application start")) << text.toStdString();
  EXPECT_TRUE(text.contains("] Firmware update complete")) << text.toStdString();
  EXPECT_TRUE(reported.empty());
}

TEST_F(LogWindowTest, TextTypedByTheUserIsSaved) {
  TfKestrovaLoader_Log w;
  w.show();
  QTest::keyClicks(w.redtLog, "typed by hand");
  w.LogMsg(0, mtDebug, "logged after typing", clRed);
  const QString html = UnrtfHtml(w.SaveLogFile());
  const QString text = PlainTextOfHtml(html);
  EXPECT_TRUE(text.contains("typed by hand")) << text.toStdString();
  QTextDocument read;
  read.setHtml(html);
  EXPECT_EQ(ColourOfText(read, "logged after typing"), QColor(255, 0, 0));
}

TEST_F(LogWindowTest, FolderThatCannotBeCreatedSendsTheLogToTheTemporaryFolder) {
  QFile blocker(LogsFolder());  // a file where the folder should be
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString temp = dir.filePath(QStringLiteral("temp"));
  ASSERT_TRUE(QDir().mkdir(temp));
  const QByteArray oldTemp = qgetenv("TMPDIR");
  qputenv("TMPDIR", temp.toUtf8());
  auto w = std::make_unique<TfKestrovaLoader_Log>();
  w->LogMsg(0, mtDebug, "kept anyway", clBlack);
  w.reset();
  qputenv("TMPDIR", oldTemp);
  const QStringList saved = QDir(temp).entryList({QStringLiteral("*.log.rtf")}, QDir::Files);
  ASSERT_EQ(saved.size(), 1);
  const QString path = QDir(temp).filePath(saved.first());
  EXPECT_TRUE(PlainTextOfHtml(UnrtfHtml(path)).contains("kept anyway"));
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0].find("Cannot create folder \"" + LogsFolder().toStdString()),
            std::string::npos)
      << reported[0];
  EXPECT_NE(reported[0].find("The log was saved as \"" + path.toStdString() + "\"."),
            std::string::npos)
      << reported[0];
}

TEST_F(LogWindowTest, FileThatCannotBeWrittenIsReportedWithPathAndReason) {
  // A folder in which no file can be created, not even by root.
  ASSERT_TRUE(QFile::link(QStringLiteral("/proc"), LogsFolder()));
  auto w = std::make_unique<TfKestrovaLoader_Log>();
  w.reset();
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0].find("Cannot create file \"" + LogsFolder().toStdString() + "/"),
            std::string::npos)
      << reported[0];
  EXPECT_NE(reported[0].find(".log.rtf\": "), std::string::npos) << reported[0];
}

}  // namespace
