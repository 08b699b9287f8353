// Two copies of the configurator in one folder, as two processes: the
// second shows that the configurator is already running and ends without
// touching the settings file or the log files; once the first has ended,
// the next copy starts. The program runs itself as the copies:
//   single_instance_test                  the test (ctest)
//   single_instance_test first FOLDER     runs until FOLDER/quit appears
//   single_instance_test second FOLDER    prints the text of every box it sees
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "QtPath.h"
#include "StationFiles.h"
#include "Startup.h"
#include "ufKestrovaLoader_Main.h"

namespace {

char* gSelf = nullptr;
constexpr int kStartMs = 30000;  // a copy on a loaded machine
constexpr int kPollMs = 50;

// Ends the first copy when the test asks for it.
void QuitWhenAsked(const QString& AFolder) {
  auto* poll = new QTimer(fKestrovaLoader_Main);
  QObject::connect(poll, &QTimer::timeout, [AFolder] {
    if (QFileInfo::exists(AFolder + "/quit")) fKestrovaLoader_Main->close();
  });
  poll->start(kPollMs);
  std::printf("READY\n");
  std::fflush(stdout);
}

// Runs from the application object's constructor: answers every modal box
// and prints its text.
void AnswerBoxes() {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      std::printf("BOX: %s\n", box->text().toUtf8().constData());
      std::fflush(stdout);
      box->accept();
    }
  });
  poll->start(kPollMs);
}

int RunCopy(char** argv) {
  const QString folder = QString::fromLocal8Bit(argv[2]);
  station::SetFolderOverride(FsPath(folder));
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("KESTROVA_SIM", "keyboard");  // no real HID devices
  int qtArgc = 1;
  if (std::strcmp(argv[1], "second") == 0) {
    qAddPreRoutine(AnswerBoxes);
    return RunKestrovaSetup(qtArgc, argv);
  }
  return RunKestrovaSetup(qtArgc, argv, [folder] { QuitWhenAsked(folder); });
}

QStringList Files(const QString& AFolder) {
  QStringList out;
  for (const QFileInfo& info : QDir(AFolder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot))
    out << info.fileName() + "@" + QString::number(info.lastModified().toMSecsSinceEpoch()) + "#" +
               QString::number(info.size());
  for (const QFileInfo& info : QDir(AFolder + "/logs").entryInfoList(QDir::Files)) out << "logs/" + info.fileName();
  return out;
}

class SingleInstance : public ::testing::Test {
 protected:
  void StartFirst(QProcess& AProcess) {
    AProcess.start(QString::fromLocal8Bit(gSelf), {"first", dir.path()});
    ASSERT_TRUE(AProcess.waitForStarted(kStartMs));
    while (!AProcess.canReadLine()) ASSERT_TRUE(AProcess.waitForReadyRead(kStartMs)) << "first copy never came up";
    ASSERT_EQ(AProcess.readLine().trimmed(), "READY");
  }
  void StopFirst(QProcess& AProcess) {
    QFile quit(dir.path() + "/quit");
    ASSERT_TRUE(quit.open(QIODevice::WriteOnly));
    quit.close();
    ASSERT_TRUE(AProcess.waitForFinished(kStartMs));
    EXPECT_EQ(AProcess.exitCode(), 0);
    QFile::remove(dir.path() + "/quit");
  }
  QTemporaryDir dir;
};

TEST_F(SingleInstance, ASecondCopyInTheSameFolderSaysSoAndTouchesNoFile) {
  ASSERT_TRUE(dir.isValid());
  QProcess first;
  StartFirst(first);
  const QStringList before = Files(dir.path());
  EXPECT_TRUE(before.filter("KestrovaSetup.lock").size() == 1) << before.join(", ").toStdString();

  QProcess second;
  second.start(QString::fromLocal8Bit(gSelf), {"second", dir.path()});
  ASSERT_TRUE(second.waitForFinished(kStartMs));
  EXPECT_NE(second.exitCode(), 0);
  EXPECT_EQ(QString::fromUtf8(second.readAllStandardOutput()).split('\n').filter("BOX: "),
            QStringList{"BOX: The configurator is already running."});
  EXPECT_EQ(Files(dir.path()), before) << "the second copy wrote nothing";

  StopFirst(first);
  const QStringList after = Files(dir.path());
  EXPECT_EQ(after.filter(".xml@").size(), 1) << "the first copy saved its settings";
  EXPECT_EQ(after.filter("logs/").size(), 1) << "and its log";
  EXPECT_TRUE(after.filter("KestrovaSetup.lock").isEmpty()) << "and gave up the lock";

  // The folder is free again.
  QProcess third;
  StartFirst(third);
  StopFirst(third);
}

TEST_F(SingleInstance, ALockLeftByACopyThatDiedDoesNotKeepTheNextOut) {
  ASSERT_TRUE(dir.isValid());
  QProcess first;
  StartFirst(first);
  first.kill();  // no clean-up: the lock file stays behind
  ASSERT_TRUE(first.waitForFinished(kStartMs));
  ASSERT_TRUE(QFileInfo::exists(dir.path() + "/KestrovaSetup.lock"));
  QProcess next;
  StartFirst(next);
  StopFirst(next);
}

}  // namespace

int main(int argc, char** argv) {
  gSelf = argv[0];
  if (argc == 3) return RunCopy(argv);
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
