#include "SingleInstance.h"

#include <QMessageBox>

#include "StationFiles.h"

namespace {

const char* const kAlreadyRunning = "The configurator is already running.";
const char* const kCaption = "kestrova configurator";

}  // namespace

TSingleInstance::TSingleInstance() : FLock(station::LockFile()) {}

bool TSingleInstance::Acquire() {
  return FLock.Acquire() != station::TInstanceLock::TResult::HeldElsewhere;
}

void ShowAlreadyRunning() {
  QMessageBox box(QMessageBox::Warning, kCaption, kAlreadyRunning, QMessageBox::Ok);
  box.exec();
}
