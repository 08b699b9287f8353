// The lock on Windows: the lock file held open without sharing it, and
// deleted when the handle is closed. Windows closes the handles of a
// process that ends, also of one that crashed, and the file goes with it.
#include <windows.h>

#include "InstanceLock.h"

namespace station {

TInstanceLock::TResult TInstanceLock::Acquire() {
  if (FHandle != -1) return TResult::Acquired;
  const HANDLE file = CreateFileW(FFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_SHARING_VIOLATION ? TResult::HeldElsewhere : TResult::Unavailable;
  }
  FHandle = reinterpret_cast<std::intptr_t>(file);
  return TResult::Acquired;
}

void TInstanceLock::Release() {
  if (FHandle == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(FHandle));
  FHandle = -1;
}

}  // namespace station
