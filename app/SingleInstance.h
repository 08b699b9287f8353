// One configurator per station: the window's side of the lock in the
// station's folder (settings/InstanceLock.h), and what the technician is told.
#pragma once

#include "InstanceLock.h"

class TSingleInstance {
 public:
  TSingleInstance();
  // True when this copy may run: it holds the lock, or the folder does not
  // allow a lock file at all. False when another running copy holds it.
  bool Acquire();

 private:
  station::TInstanceLock FLock;
};

// Tells the technician that the configurator is already running (modal).
void ShowAlreadyRunning();
