#include "ErrorReport.h"

#include "BugReportFile.h"
#include "Orvik.ThreadRunner.h"
#include "QtPath.h"
#include "StationFiles.h"
#include "Utf8.h"

#include <QApplication>
#include <QDateTime>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <mutex>

namespace {
const char kErrorIntro[] = "An error occurred in the application.";
const char kDialogTitle[] = "Error";

std::mutex& SettingsLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
// Serialises appends to bugreport.txt between threads.
std::mutex& FileLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
TErrorPresenter& Presenter() {
  static auto* presenter = new TErrorPresenter;
  return *presenter;
}
std::string& BugReportFolder() {
  static auto* folder = new std::string;
  return *folder;
}

bool OnMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

std::string ThreadDescription() {
  std::string name;
  if (const TThreadRunner* runner = CurrentThreadRunner()) {
    name = runner->ThreadName();
  } else if (OnMainThread()) {
    name = "main";
  }
  return "0x" + ThreadIdHex(CurrentThreadIdentifier()) + " (" + name + ")";
}

std::filesystem::path BugReportPath() {
  std::string folder;
  {
    std::lock_guard<std::mutex> guard(SettingsLock());
    folder = BugReportFolder();
  }
  // Before the application object exists its folder is unknown: no file then.
  if (folder.empty() && !QCoreApplication::instance()) return {};
  const std::filesystem::path report = station::BugReport();
  return folder.empty() ? report : FsPath(QString::fromStdString(folder)) / report.filename();
}

void RecordReport(const std::string& AMessage) {
  const std::string time =
      QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz").toStdString();
  const std::string report = station::FormatBugReport(time, ThreadDescription(), AMessage);
  const std::filesystem::path path = BugReportPath();
  if (path.empty()) return;
  std::lock_guard<std::mutex> guard(FileLock());
  if (!station::AppendBugReport(path, report)) {
    std::fprintf(stderr, "bug report could not be written to %s\n", PathToUtf8(path).c_str());
  }
}

void ShowDialog(const QString& AText) {
  QMessageBox box(QMessageBox::Critical, kDialogTitle, AText, QMessageBox::Ok);
  box.exec();
}

void Present(const std::string& AText) {
  TErrorPresenter presenter;
  {
    std::lock_guard<std::mutex> guard(SettingsLock());
    presenter = Presenter();
  }
  if (presenter) {
    presenter(AText);
    return;
  }
  const QString text = QString::fromStdString(AText);
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
    if (OnMainThread()) {
      ShowDialog(text);
    } else {
      // Another thread must not block on the dialog: the main thread shows it later.
      QMetaObject::invokeMethod(QCoreApplication::instance(), [text] { ShowDialog(text); },
                                Qt::QueuedConnection);
    }
    return;
  }
  std::fprintf(stderr, "%s\n", AText.c_str());  // no windows to show it in
}
}  // namespace

void ReportError(const std::string& AMessage) {
  try {
    RecordReport(AMessage);
  } catch (...) {
    // The report file is a courtesy; the user still has to see the error.
  }
  try {
    Present(std::string(kErrorIntro) + "\n\n" + AMessage);
  } catch (...) {
    std::fprintf(stderr, "%s\n%s\n", kErrorIntro, AMessage.c_str());
  }
}

void SetErrorPresenter(TErrorPresenter APresenter) {
  std::lock_guard<std::mutex> guard(SettingsLock());
  Presenter() = std::move(APresenter);
}

void SetBugReportFolder(const std::string& AFolder) {
  std::lock_guard<std::mutex> guard(SettingsLock());
  BugReportFolder() = AFolder;
}
