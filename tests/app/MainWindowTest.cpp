// The main window as a technician meets it: layout, the hand-over of calls
// from a worker thread, the lock of the settings controls, progress, the
// Exit rule and the service log window beside it.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QKeyEvent>
#include <QStackedWidget>
#include <atomic>
#include <thread>

#include "AppHarness.h"
#include "KestrovaVersion.h"
#include "SystemColors.h"

namespace {

QColor BaseOf(QWidget* AWidget) { return AWidget->palette().color(QPalette::Base); }

TEST(MainWindowLayout, ControlsStandWhereAndAsDesigned) {
  TAppHarness app;
  TfKestrovaLoader_Main& w = app.Main();
  EXPECT_EQ(w.windowTitle(), "kestrova configurator");
  EXPECT_EQ(w.size(), QSize(517, 506));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());  // not resizable
  EXPECT_EQ(w.pnlHeader->geometry(), QRect(0, 0, 517, 129));
  EXPECT_EQ(w.imgHeader->geometry(), QRect(17, 16, 480, 97));
  EXPECT_EQ(w.pnlBottom->geometry(), QRect(0, 454, 517, 52));
  EXPECT_EQ(w.btnExit->geometry(), QRect(390, 9, 113, 33));
  EXPECT_EQ(w.pnlMainImage->geometry(), QRect(0, 129, 517, 325));
  EXPECT_EQ(w.pgc1->geometry(), QRect(1, 1, 515, 323));
  EXPECT_EQ(w.grpSettings->geometry(), QRect(12, 3, 480, 197));
  EXPECT_EQ(w.edtApn->geometry(), QRect(152, 32, 265, 26));
  EXPECT_EQ(w.btnSave->geometry(), QRect(152, 142, 265, 33));
  EXPECT_EQ(w.pnlMainUpdate->geometry(), QRect(0, 184, 507, 103));
  EXPECT_EQ(w.pnlMainUpdate->pb2->geometry(), QRect(12, 78, 480, 17));

  EXPECT_EQ(w.grpSettings->title(), "APN settings");
  EXPECT_EQ(w.btnSave->text(), "Update FW && Save");  // shown with one ampersand
  EXPECT_EQ(w.pnlMainUpdate->lblStatusStep3->text(), "3. Upload new firmware & settings");
  EXPECT_EQ(w.edtApn->text(), "internet");
  EXPECT_EQ(w.edtLogin->text(), "user");
  EXPECT_EQ(w.edtPassword->text(), "40817");
  EXPECT_EQ(w.edtPassword->echoMode(), QLineEdit::Normal);
  EXPECT_FALSE(w.imgHeader->pixmap().isNull());
  EXPECT_FALSE(w.imgGuide->pixmap().isNull());

  EXPECT_EQ(w.pgc1->currentWidget(), w.ts1);  // the guide until a board shows up
  EXPECT_FALSE(w.pnlMainUpdate->isVisibleTo(w.ts2));
  EXPECT_EQ(w.edtApn->nextInFocusChain(), w.edtLogin);
  EXPECT_EQ(w.edtLogin->nextInFocusChain(), w.edtPassword);
  EXPECT_EQ(w.edtPassword->nextInFocusChain(), w.btnSave);
}

TEST(MainWindowHandOver, WorkerCallsTakeEffectInCallOrderBeforeTheyReturn) {
  TAppHarness app;
  constexpr int kLines = 200;
  std::atomic<int> returned{0};
  std::atomic<bool> done{false};
  std::atomic<bool> lockSeenByWorker{false};
  std::thread worker([&] {
    for (int i = 0; i < kLines; ++i) {
      app.Main().LogMsg(0, mtDebug, "line " + std::to_string(i), clBlack);
      returned = i + 1;
    }
    app.Main().EnDisSettingsComponents(false);
    // Back from the hand-over: the main thread has applied the lock.
    lockSeenByWorker = QApplication::overrideCursor() != nullptr;
    app.Main().EnDisSettingsComponents(true);
    done = true;
  });
  int maxLag = 0;
  ASSERT_TRUE(WaitUntil([&] {
    const int shown = app.LogLines().size() - 2;  // less "Application start" and the version
    maxLag = std::max(maxLag, returned.load() - shown);
    return done.load();
  }, 20000));
  worker.join();
  // A call never returns before its line is in the view.
  EXPECT_LE(maxLag, 0);
  EXPECT_TRUE(lockSeenByWorker);
  const QStringList lines = app.LogLines();
  ASSERT_EQ(lines.size(), kLines + 2);
  for (int i = 0; i < kLines; ++i) ASSERT_EQ(lines[i + 2], QString("line %1").arg(i));
}

TEST(MainWindowLock, LockGreysTheFieldsAndShowsTheBusyCursorUnlockRestores) {
  TAppHarness app;
  TfKestrovaLoader_Main& w = app.Main();
  w.EnDisSettingsComponents(false);
  for (QLineEdit* e : {w.edtApn, w.edtLogin, w.edtPassword}) {
    EXPECT_FALSE(e->isEnabled());
    EXPECT_EQ(BaseOf(e), ToQColor(clBtnFace));
  }
  EXPECT_FALSE(w.btnSave->isEnabled());
  EXPECT_TRUE(w.btnExit->isEnabled());
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

  w.EnDisSettingsComponents(false);  // a second lock needs one unlock only
  w.EnDisSettingsComponents(true);
  for (QLineEdit* e : {w.edtApn, w.edtLogin, w.edtPassword}) {
    EXPECT_TRUE(e->isEnabled());
    EXPECT_EQ(BaseOf(e), ToQColor(clWindow));
  }
  EXPECT_TRUE(w.btnSave->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(MainWindowProgress, LastLineFillsTheBarAndAmountsLeaveIt) {
  TAppHarness app;
  TUpdatePanel& panel = *app.Main().pnlMainUpdate;
  using update::TUpdateStage;
  panel.ShowProgress({TUpdateStage::Loader, 0, 64, 0, 5});
  EXPECT_EQ(panel.pb2->minimum(), 1);
  EXPECT_EQ(panel.pb2->maximum(), 5);
  EXPECT_EQ(panel.pb2->value(), 1);
  panel.ShowProgress({TUpdateStage::Loader, 64, 64, 4, 5});
  EXPECT_EQ(panel.pb2->value(), panel.pb2->maximum());
  panel.ShowProgress({TUpdateStage::Verify, 10, 64});
  EXPECT_EQ(panel.pb2->value(), panel.pb2->maximum()) << "the bar counts lines only";
  EXPECT_TRUE(app.Main().lblProggressMessage->isHidden());
}

TEST(MainWindowLog, MessagesBeforeTheLogWindowExistsGoNowhere) {
  TAppHarness app("", /*ACreateLogWindow=*/false);
  app.Main().LogMsg(0, mtDebug, "too early", clBlack);  // must not crash
  fKestrovaLoader_Log = new TfKestrovaLoader_Log;
  EXPECT_EQ(app.LogLines(), (QStringList{"Application start", QString("KestrovaSetup ") + kKestrovaVersion}));
}

TEST(MainWindowLog, HeaderDoubleClickPlacesTheLogWindowBesideTheMainWindow) {
  TAppHarness app;
  TfKestrovaLoader_Main& w = app.Main();
  w.move(100, 80);
  QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(10, 10), QPointF(10, 10),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.imgHeader, &dbl);
  ASSERT_TRUE(fKestrovaLoader_Log->isVisible());
  const QRect outer = w.frameGeometry();
  EXPECT_EQ(fKestrovaLoader_Log->frameGeometry().topLeft(),
            QPoint(outer.left() + outer.width(), outer.top()));
  // Moved away and asked again: back beside the main window.
  fKestrovaLoader_Log->move(0, 0);
  QApplication::sendEvent(w.imgHeader, &dbl);
  EXPECT_EQ(fKestrovaLoader_Log->frameGeometry().topLeft(),
            QPoint(outer.left() + outer.width(), outer.top()));
}

TEST(MainWindowExit, WithoutAnUpdateExitClosesAtOnce) {
  TAppHarness app;
  TBoxAnswerer boxes;
  app.Main().btnExit->click();
  EXPECT_FALSE(app.Main().isVisible());
  EXPECT_TRUE(boxes.Texts().isEmpty());
}

TEST(MainWindowExit, DuringAnUpdateNoKeepsRunningYesNeedsCtrl) {
  TAppHarness app;
  TfKestrovaLoader_Main& w = app.Main();
  int fakeRunner = 0;  // only its address matters: "an update is running"
  TMainWindowProbe::SetRunningUpdate(&w, reinterpret_cast<TThreadRunner*>(&fakeRunner));

  {
    TBoxAnswerer boxes({QMessageBox::No});
    w.btnExit->click();
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(boxes.Texts().size(), 1);
    EXPECT_TRUE(boxes.Texts()[0].startsWith("Attention! Flashing process is in progresss."));
  }
  {
    // Yes without Ctrl twice: the question comes back each time; Yes with
    // Ctrl held closes.
    bool ctrl = false;
    w.fIsCtrlDown = [&ctrl] { return ctrl; };
    TBoxAnswerer boxes({QMessageBox::Yes});
    boxes.BeforeAnswer = [&ctrl](int AIndex) { ctrl = AIndex == 2; };
    w.btnExit->click();
    EXPECT_EQ(boxes.Texts().size(), 3);
    EXPECT_FALSE(w.isVisible());
  }
  TMainWindowProbe::SetRunningUpdate(&w, nullptr);
}

TEST(MainWindowSettings, TextsSavedAtTheEndComeBackAtTheNextStart) {
  TAppHarness app;
  app.Main().edtApn->setText(QString::fromUtf8("mobil.example"));
  app.Main().edtLogin->setText("");
  app.Main().edtPassword->setText(QString::fromUtf8("heslo-ěščř"));
  delete fKestrovaLoader_Main;  // saves the settings file
  fKestrovaLoader_Main = new TfKestrovaLoader_Main(&app.Sim().Bus());
  EXPECT_EQ(app.Main().edtApn->text(), "mobil.example");
  EXPECT_EQ(app.Main().edtLogin->text(), "");
  EXPECT_EQ(app.Main().edtPassword->text(), QString::fromUtf8("heslo-ěščř"));
  EXPECT_TRUE(app.Errors().empty());
}

TEST(MainWindowSettings, AMalformedFileIsReportedAndKeptAndTheDefaultsShow) {
  TAppHarness app;
  delete fKestrovaLoader_Main;
  fKestrovaLoader_Main = nullptr;
  const QString path = app.Folder() + QFileInfo(QCoreApplication::applicationFilePath()).fileName() + ".xml";
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<?xml version=\"1.0\"?><xml><ApnSettings apn=\"x\"</xml>");
  }
  fKestrovaLoader_Main = new TfKestrovaLoader_Main(&app.Sim().Bus());
  EXPECT_EQ(app.Main().edtApn->text(), "internet");
  ASSERT_EQ(app.Errors().size(), 1u);
  EXPECT_NE(app.Errors()[0].find("An error occurred in the application."), std::string::npos);
  delete fKestrovaLoader_Main;  // the save fails while loading: file untouched
  fKestrovaLoader_Main = nullptr;
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("<?xml version=\"1.0\"?><xml><ApnSettings apn=\"x\"</xml>"));
  EXPECT_EQ(app.Errors().size(), 2u);
}

// A board record holds 40 characters; a longer stored value is shown and
// sent cut, but the file keeps it whole until the technician edits it.
class MainWindowLongSettings : public ::testing::Test {
 protected:
  void Restart(const QByteArray& AFile) {
    delete fKestrovaLoader_Main;
    fKestrovaLoader_Main = nullptr;
    QFile f(Path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(AFile);
    f.close();
    fKestrovaLoader_Main = new TfKestrovaLoader_Main(&app.Sim().Bus());
    app.Main().show();
    QCoreApplication::processEvents();
  }
  QString Path() const {
    return app.Folder() + QFileInfo(QCoreApplication::applicationFilePath()).fileName() + ".xml";
  }
  QByteArray SavedFile() {
    delete fKestrovaLoader_Main;  // saves the settings file
    fKestrovaLoader_Main = new TfKestrovaLoader_Main(&app.Sim().Bus());
    QFile f(Path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  TAppHarness app;
  const QByteArray Long60 = QByteArray("apn.") + QByteArray(56, 'x');
};

TEST_F(MainWindowLongSettings, AStoredValueOver40CharactersSurvivesARunWithoutEditing) {
  Restart("<xml><ApnSettings apn=\"" + Long60 + "\" login=\"" + QByteArray(40, 'l') + "\"/></xml>");
  EXPECT_EQ(app.Main().edtApn->text(), QString::fromLatin1(Long60.left(40)));
  EXPECT_EQ(app.LogLines().filter("first 40 characters"),
            QStringList{"Settings file: the APN has 60 characters; the board receives only "
                        "its first 40 characters."});
  EXPECT_TRUE(SavedFile().contains("apn=\"" + Long60 + "\"")) << Long60.constData();
  EXPECT_TRUE(app.Errors().empty());
}

TEST_F(MainWindowLongSettings, AnEditedFieldIsSavedAsItStands) {
  Restart("<xml><ApnSettings apn=\"" + Long60 + "\" login=\"" + Long60 + "\"/></xml>");
  // Typed as the technician would: the last character replaced by "y".
  app.Main().edtApn->end(false);
  QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
  QKeyEvent y(QEvent::KeyPress, Qt::Key_Y, Qt::NoModifier, QStringLiteral("y"));
  QCoreApplication::sendEvent(app.Main().edtApn, &backspace);
  QCoreApplication::sendEvent(app.Main().edtApn, &y);
  const QByteArray saved = SavedFile();
  EXPECT_TRUE(saved.contains("apn=\"" + Long60.left(39) + "y\"")) << saved.constData();
  EXPECT_TRUE(saved.contains("login=\"" + Long60 + "\"")) << saved.constData();
}

// Files a user may hand us, through the real window: what shows, what the
// error dialog says, and what the file holds after the run.
TEST_F(MainWindowLongSettings, ABrokenLongDeclarationIsReportedAndTheFileKept) {
  const QByteArray file =
      "<?xml version=\"1.0\" encoding=\"" + QByteArray(50000, 'w') + "?><xml/>";
  Restart(file);
  EXPECT_EQ(app.Main().edtApn->text(), "internet");
  ASSERT_EQ(app.Errors().size(), 1u);
  EXPECT_NE(app.Errors()[0].find("XML declaration not closed"), std::string::npos)
      << app.Errors()[0];
  EXPECT_EQ(SavedFile(), file);
}

TEST_F(MainWindowLongSettings, AnUndeclaredWindows1250FileShowsAndKeepsItsLetters) {
  Restart("<xml><ApnSettings apn=\"\x8Aumperk\"/></xml>");
  EXPECT_EQ(app.Main().edtApn->text(), QString::fromUtf8("Šumperk"));
  EXPECT_TRUE(SavedFile().contains("apn=\"\x8Aumperk\""));
  EXPECT_TRUE(app.Errors().empty());
}

}  // namespace
