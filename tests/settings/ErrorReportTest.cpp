#include "BugReportFile.h"
#include "ErrorReport.h"
#include "KestrovaApplication.h"
#include "Orvik.ThreadRunner.h"
#include "QtPath.h"
#include "StationFiles.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <stdexcept>

namespace {

const std::string kIntro = "An error occurred in the application.";

class ErrorReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station::SetFolderOverride(FsPath(Dir.path()));
    SetErrorPresenter([this](const std::string& AText) { Shown.push_back(AText); });
  }
  void TearDown() override {
    SetErrorPresenter({});
    SetBugReportFolder("");
    station::SetFolderOverride({});
  }
  QByteArray BugReport() const {
    QFile file(Dir.filePath("bugreport.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir Dir;
  std::vector<std::string> Shown;
};

TEST_F(ErrorReportTest, PresenterGetsTheTextAndTheReportIsAppended) {
  ReportError("Cannot load \"x.xml\": bad");
  ReportError("second");
  EXPECT_EQ(Shown, (std::vector<std::string>{kIntro + "\n\nCannot load \"x.xml\": bad",
                                             kIntro + "\n\nsecond"}));
  const QByteArray report = BugReport();
  EXPECT_EQ(report.count(station::kBugReportMark), 2) << report.constData();
  EXPECT_TRUE(report.contains("Error: Cannot load \"x.xml\": bad\n"));
  EXPECT_TRUE(report.contains(" (main)\n")) << report.constData();
  EXPECT_LT(report.indexOf("bad"), report.indexOf("second"));
}

TEST_F(ErrorReportTest, ReportFromARunnerNamesItsThread) {
  ThreadRunnerModuleInit();
  auto runner = std::make_unique<TThreadRunner>(
      [](TThreadRunner*) { ReportError("from the worker"); }, "Flash thread");
  runner->Start();
  runner->WaitFor();
  const std::string id = ThreadIdHex(runner->ThreadID());
  runner.reset();
  ThreadRunnerModuleShutdown();
  EXPECT_TRUE(BugReport().contains(QByteArray::fromStdString("Thread: 0x" + id + " (Flash thread)")))
      << BugReport().constData();
}

TEST_F(ErrorReportTest, NeverThrowsWhenPresenterOrFileFail) {
  QFile blocker(Dir.filePath("blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  SetBugReportFolder(Dir.filePath("blocker").toStdString());  // not a folder: cannot write
  SetErrorPresenter([](const std::string&) { throw std::runtime_error("presenter broke"); });
  EXPECT_NO_THROW(ReportError("x"));
}

TEST_F(ErrorReportTest, FileStaysBelowLimitDroppingOldestWholeReports) {
  const std::string filler(900, 'f');  // about 110 reports fill the file
  for (int i = 0; i < 300; ++i) {
    ReportError("report " + std::to_string(i) + " " + filler);
    ASSERT_LT(static_cast<size_t>(BugReport().size()), station::kBugReportLimit) << "after report " << i;
  }
  const QByteArray report = BugReport();
  EXPECT_TRUE(report.startsWith(station::kBugReportMark)) << "the first report must be whole";
  EXPECT_TRUE(report.contains("report 299 "));
  EXPECT_FALSE(report.contains("report 0 "));
  EXPECT_GT(static_cast<size_t>(report.size()), station::kBugReportLimit - 2000)
      << "only as many reports as needed go";
}

TEST_F(ErrorReportTest, DialogShowsIntroAndMessageWithCriticalIconAndOk) {
  SetErrorPresenter({});
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    box->button(QMessageBox::Ok)->click();
  });
  ReportError("port gone");
  EXPECT_EQ(text.toStdString(), kIntro + "\n\nport gone");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

// Throws from its handler for the first event, counts the ones after it.
class TThrowingReceiver : public QObject {
 public:
  int Handled = 0;
  bool event(QEvent* AEvent) override {
    if (AEvent->type() != QEvent::User) return QObject::event(AEvent);
    if (++Handled == 1) throw std::runtime_error("handler failed");
    return true;
  }
};

TEST_F(ErrorReportTest, ErrorEscapingAnEventHandlerIsReportedAndTheLoopGoesOn) {
  TThrowingReceiver receiver;
  QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
  QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
  QCoreApplication::processEvents();
  EXPECT_EQ(receiver.Handled, 2);
  EXPECT_EQ(Shown, std::vector<std::string>{kIntro + "\n\nhandler failed"});
}

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs the binary without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TKestrovaApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
