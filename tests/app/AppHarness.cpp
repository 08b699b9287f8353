#include "AppHarness.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QEventLoop>

#include "ErrorReport.h"
#include "KestrovaApplication.h"
#include "Orvik.ThreadRunner.h"
#include "QtHidEventLoop.h"
#include "QtPath.h"
#include "StationFiles.h"
#include "Velmora.Utils.Log.h"

TAppProcess::TAppProcess(int& argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  ThreadRunnerModuleInit();
  LogWriterInitialize();
  FApp = std::make_unique<TKestrovaApplication>(argc, argv);
  FHidLoop = std::make_unique<TQtHidEventLoop>();
  hid::SetEventLoop(FHidLoop.get());
}

TAppProcess::~TAppProcess() { hid::SetEventLoop(nullptr); }

bool WaitUntil(const std::function<bool()>& APredicate, int ATimeoutMs) {
  // A real event loop, as the application runs: posted hand-overs are
  // handled the moment they arrive.
  if (APredicate()) return true;
  QEventLoop loop;
  QTimer poll;
  QElapsedTimer elapsed;
  elapsed.start();
  bool met = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (APredicate()) {
      met = true;
      loop.quit();
    } else if (elapsed.elapsed() > ATimeoutMs) {
      loop.quit();
    }
  });
  poll.start(2);
  loop.exec();
  return met;
}

TBoxAnswerer::TBoxAnswerer(std::vector<QMessageBox::StandardButton> AAnswers)
    : FAnswers(std::move(AAnswers)) {
  QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
  FTimer.start(5);
}

TBoxAnswerer::~TBoxAnswerer() { FTimer.stop(); }

void TBoxAnswerer::Poll() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr || !box->isVisible()) return;
  const int index = FTexts.size();
  FTexts << box->text();
  FDetails << box->informativeText();
  const auto answer = FAnswers[std::min<size_t>(index, FAnswers.size() - 1)];
  if (BeforeAnswer) BeforeAnswer(index);
  if (QAbstractButton* button = box->button(answer)) {
    button->click();
  } else {
    box->reject();
  }
}

TAppHarness::TAppHarness(const std::string& ASimList, bool ACreateLogWindow) {
  station::SetFolderOverride(FsPath(FDir.path()));
  SetErrorPresenter([this](const std::string& AText) { FErrors.push_back(AText); });
  FSim = TSimSession::FromList(ASimList);
  fKestrovaLoader_Main = new TfKestrovaLoader_Main(&FSim->Bus());
  if (ACreateLogWindow) fKestrovaLoader_Log = new TfKestrovaLoader_Log;
  fKestrovaLoader_Main->show();
  QCoreApplication::processEvents();
}

TAppHarness::~TAppHarness() {
  delete fKestrovaLoader_Log;
  fKestrovaLoader_Log = nullptr;
  delete fKestrovaLoader_Main;
  fKestrovaLoader_Main = nullptr;
  // An update abandoned with the window stops at its next pause; the
  // simulated bus it still talks to must outlive it, as in the application.
  WaitUntil([] { return ThreadRunnerCount() == 0; }, 70000);
  FSim.reset();
  SetErrorPresenter(nullptr);
  station::SetFolderOverride({});
}

QStringList TAppHarness::LogLines() const {
  QStringList lines;
  if (fKestrovaLoader_Log == nullptr) return lines;
  const QStringList all = fKestrovaLoader_Log->redtLog->toPlainText().split('\n');
  for (int i = 1; i < all.size(); ++i) {
    // "[yyyy-MM-dd hh:mm:ss] " precedes every message.
    lines << (all[i].startsWith('[') ? all[i].mid(22) : all[i]);
  }
  return lines;
}

bool TAppHarness::WaitForLine(const QString& AText, int ATimeoutMs) {
  return WaitUntil([&] { return LogLines().contains(AText); }, ATimeoutMs);
}
