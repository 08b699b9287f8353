// The technician leaves the application (Exit, Yes with Ctrl held) while an
// update waits for a board that never comes back. The application must end
// without hanging, report the unfinished thread, and still write the log
// file and the settings file. Prints one verdict line for ctest.
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "AppHarness.h"
#include "ErrorReport.h"
#include "QtPath.h"
#include "StationFiles.h"
#include "Startup.h"

namespace {

QString gFolder;
std::atomic<bool> gUnfinishedReported{false};

void Verdict() {
  const bool log = !QDir(gFolder + "/logs").entryList({"*.log.rtf"}, QDir::Files).isEmpty();
  const bool settings = !QDir(gFolder).entryList({"*.xml"}, QDir::Files).isEmpty();
  std::printf("SHUTDOWN-OK unfinished=%s log=%s settings=%s\n", gUnfinishedReported ? "yes" : "no",
              log ? "yes" : "no", settings ? "yes" : "no");
  std::fflush(stdout);
}

// How long after the worker started the technician presses Exit (the
// loader stage takes about 0.2 s, then the wait begins);
// KESTROVA_EXIT_DELAY_MS sets it for repeated runs.
int ExitDelayMs() {
  bool ok = false;
  const int value = qEnvironmentVariableIntValue("KESTROVA_EXIT_DELAY_MS", &ok);
  return ok ? value : 1500;
}

void WriteImage(const QString& AName, const char* AText) {
  QFile f(gFolder + "/" + AName);
  if (f.open(QIODevice::WriteOnly)) f.write(AText);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("KESTROVA_SIM", "board:no-return");
  QTemporaryDir dir;
  dir.setAutoRemove(false);  // the process ends without running destructors
  gFolder = dir.path();
  station::SetFolderOverride(FsPath(gFolder));
  SetErrorPresenter([](const std::string& AText) {
    std::printf("reported: %s\n", AText.c_str());
    if (AText.find("Existují neukončené thready!") != std::string::npos) gUnfinishedReported = true;
  });
  std::at_quick_exit(Verdict);
  WriteImage("kestrova.1.ldr.txt", "@2500\n00 11 22 33 44 55 66 77\n#2500\nq\n");
  WriteImage("kestrova.2.fw.txt", "@4400\n00 11\nSET\nq\n");

  TBoxAnswerer* boxes = nullptr;
  const int result = RunKestrovaSetup(argc, argv, [&boxes] {
    TfKestrovaLoader_Main& w = *fKestrovaLoader_Main;
    w.fIsCtrlDown = [] { return true; };
    boxes = new TBoxAnswerer({QMessageBox::Yes});
    auto* poll = new QTimer(&w);
    QObject::connect(poll, &QTimer::timeout, [&w, poll] {
      if (w.pgc1 == nullptr) return;
      if (w.RunningUpdate() == nullptr && w.btnSave->isEnabled() && w.pgc1->currentIndex() == 1) {
        w.btnSave->click();  // the board is there: start the update
      } else if (w.RunningUpdate() != nullptr && !w.btnSave->isEnabled()) {
        poll->stop();
        QTimer::singleShot(ExitDelayMs(), &w, [&w] { w.btnExit->click(); });  // during the wait
      }
    });
    poll->start(50);
  });
  // Reaching this point means the worker had ended before the shutdown.
  std::printf("returned %d without an abandoned update\n", result);
  Verdict();
  return 1;
}
