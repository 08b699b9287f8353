// One configurator per folder: a second copy started from the same folder
// would flash the same board and write the same settings and log files.
// The first copy holds a lock file beside the executable.
#pragma once

#include <QLockFile>
#include <QString>

class TSingleInstance {
 public:
  TSingleInstance();
  // True when this copy may run: it holds the lock, or the folder does not
  // allow a lock file at all (then nothing else could be written there
  // either). False when another running copy holds it.
  bool Acquire();

  static QString LockFilePath();

 private:
  QLockFile FLock;
};

// Tells the technician that the configurator is already running (modal).
void ShowAlreadyRunning();
