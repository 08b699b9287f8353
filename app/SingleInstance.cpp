#include "SingleInstance.h"

#include <QMessageBox>

#include "QtPath.h"
#include "StationFiles.h"

namespace {

const char* const kAlreadyRunning = "The configurator is already running.";
const char* const kCaption = "kestrova configurator";

}  // namespace

QString TSingleInstance::LockFilePath() { return QtPath(station::LockFile()); }

TSingleInstance::TSingleInstance() : FLock(LockFilePath()) {
  // Never stale by age: only a holder that no longer runs gives it up, and
  // a copy may run for hours.
  FLock.setStaleLockTime(0);
}

bool TSingleInstance::Acquire() {
  if (FLock.tryLock(0)) return true;
  return FLock.error() != QLockFile::LockFailedError;
}

void ShowAlreadyRunning() {
  QMessageBox box(QMessageBox::Warning, kCaption, kAlreadyRunning, QMessageBox::Ok);
  box.exec();
}
