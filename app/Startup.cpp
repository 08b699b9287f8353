#include "Startup.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "CrashHandler.h"
#include "ErrorReport.h"
#include "KestrovaApplication.h"
#include "MainThread.h"
#include "Orvik.ThreadRunner.h"
#include "QtHidEventLoop.h"
#include "SimRun.h"
#include "SingleInstance.h"
#include "StationFiles.h"
#include "Velmora.Utils.Log.h"
#include "ufKestrovaLoader_Log.h"
#include "ufKestrovaLoader_Main.h"

namespace {

// Reverse order of start-up: the units first (the registry complains about
// an update still running), then the log window (saves the log file), then
// the main window (saves the settings file).
void ShutDown(TSimRun* ASim) {
  CloseMainThreadGate();
  LogWriterShutdown();
  GuardStep([] { ThreadRunnerModuleShutdown(); });
  GuardStep([] {
    delete fKestrovaLoader_Log;
    fKestrovaLoader_Log = nullptr;
  });
  GuardStep([] {
    delete fKestrovaLoader_Main;
    fKestrovaLoader_Main = nullptr;
  });
  if (ASim != nullptr) GuardStep([ASim] { ASim->WriteDump(); });
}

}  // namespace

int RunKestrovaSetup(int& argc, char** argv, const std::function<void()>& AOnShown) {
  ThreadRunnerModuleInit();
  LogWriterInitialize();
  TKestrovaApplication app(argc, argv);
  // An installed build's first start makes the station's folder; the lock
  // lives there too.
  GuardStep([] { station::CreateFolder(); });
  TSingleInstance instance;
  if (!instance.Acquire()) {
    // Before anything reads or writes the settings or log files.
    ShowAlreadyRunning();
    LogWriterShutdown();
    ThreadRunnerModuleShutdown();
    return EXIT_FAILURE;
  }
  // A crash goes to bugreport.txt in the station's folder.
  station::InstallCrashHandler(station::BugReport());
  TQtHidEventLoop hidLoop;
  hid::SetEventLoop(&hidLoop);
  hid::SetUnhandledErrorHandler([](const std::string& AMessage) { ReportError(AMessage); });
  std::unique_ptr<TSimRun> sim;
  GuardStep([&sim] { sim = TSimRun::FromEnvironment(); });

  GuardStep([&sim] { fKestrovaLoader_Main = new TfKestrovaLoader_Main(sim ? sim->Platform() : nullptr); });
  GuardStep([] { fKestrovaLoader_Log = new TfKestrovaLoader_Log; });
  if (fKestrovaLoader_Main == nullptr) return EXIT_FAILURE;
  fKestrovaLoader_Main->show();
  if (AOnShown) AOnShown();
  app.exec();

  ShutDown(sim.get());
  if (ThreadRunnerCount() > 0) {
    // An update was abandoned: end before its worker can reach anything
    // that the shutdown released. The files are written and closed by now.
    std::fflush(nullptr);
    std::quick_exit(EXIT_SUCCESS);
  }
  hid::SetEventLoop(nullptr);
  return EXIT_SUCCESS;
}
