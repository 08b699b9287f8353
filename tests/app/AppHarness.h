// Runs the real main window and service log window on the simulated bus,
// offscreen, in a scratch folder: what the tests of the application drive.
#pragma once

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SimSession.h"
#include "ufKestrovaLoader_Log.h"
#include "ufKestrovaLoader_Main.h"

// Gives the tests the window's update state.
class TMainWindowProbe {
 public:
  static void SetRunningUpdate(TfKestrovaLoader_Main* AWindow, TThreadRunner* ARunner) {
    AWindow->Workflow().fTR.store(ARunner);
  }
};

// What the application's start-up sets up once per process, offscreen:
// the thread-runner registry, the log writer, the application object and
// the HID layer's event loop.
class TAppProcess {
 public:
  TAppProcess(int& argc, char** argv);
  ~TAppProcess();

 private:
  std::unique_ptr<QApplication> FApp;
  std::unique_ptr<hid::IHidEventLoop> FHidLoop;
};

// Processes events until APredicate holds or ATimeoutMs passed.
bool WaitUntil(const std::function<bool()>& APredicate, int ATimeoutMs = 5000);

// Answers every modal message box that appears, in order: the answers are
// used one per box (the last one repeats); the texts are kept.
class TBoxAnswerer {
 public:
  explicit TBoxAnswerer(std::vector<QMessageBox::StandardButton> AAnswers = {QMessageBox::Ok});
  ~TBoxAnswerer();
  QStringList Texts() const { return FTexts; }
  QStringList Details() const { return FDetails; }  // the text beneath, box by box
  // Called right before a box is answered (e.g. to press Ctrl).
  std::function<void(int AIndex)> BeforeAnswer;

 private:
  void Poll();
  std::vector<QMessageBox::StandardButton> FAnswers;
  QStringList FTexts;
  QStringList FDetails;
  QTimer FTimer;
};

class TAppHarness {
 public:
  // ASimList: devices on the simulated bus ("board,keyboard"); an empty list
  // gives an empty bus.
  explicit TAppHarness(const std::string& ASimList = "", bool ACreateLogWindow = true);
  ~TAppHarness();

  TfKestrovaLoader_Main& Main() { return *fKestrovaLoader_Main; }
  TSimSession& Sim() { return *FSim; }
  QString Folder() const { return FDir.path() + "/"; }

  // Log lines as shown, without their timestamp; the view's empty first
  // line is left out.
  QStringList LogLines() const;
  // Waits until a line equal to AText has been logged.
  bool WaitForLine(const QString& AText, int ATimeoutMs = 5000);
  std::vector<std::string> Errors() const { return FErrors; }

 private:
  QTemporaryDir FDir;
  std::unique_ptr<TSimSession> FSim;
  std::vector<std::string> FErrors;
};
