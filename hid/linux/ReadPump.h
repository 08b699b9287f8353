// The thread that finishes overlapped reads on Linux: it waits until a
// hidraw descriptor with a pending read is readable, reads one report into
// the caller's buffer and queues the completion to the thread that started
// the read, where the alertable wait runs it.
#pragma once

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "HidrawFile.h"

namespace hid {

class TReadPump {
 public:
  TReadPump();
  ~TReadPump();
  TReadPump(const TReadPump&) = delete;
  TReadPump& operator=(const TReadPump&) = delete;

  // Watches AFile until its pending read completes or is cancelled.
  void Watch(std::shared_ptr<THidrawFile> AFile);
  // Makes the pump look at its list again (a read was cancelled).
  void Wake();

 private:
  void Run();
  std::vector<std::shared_ptr<THidrawFile>> Snapshot();

  std::mutex FLock;
  std::vector<std::shared_ptr<THidrawFile>> FFiles;
  bool FStop = false;
  int FWakeFd = -1;
  std::thread FThread;
};

}  // namespace hid
