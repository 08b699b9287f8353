// The lock on Linux: an exclusive flock() on the lock file, which the
// kernel drops with the last descriptor, also when the process is killed.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "InstanceLock.h"

namespace station {

namespace {

// The descriptor still names the file at APath: the copy before us may
// have removed the file between our open and our lock.
bool StillNamed(int AFile, const std::filesystem::path& APath) {
  struct stat held {}, named {};
  return fstat(AFile, &held) == 0 && stat(APath.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

TInstanceLock::TResult TInstanceLock::Acquire() {
  if (FHandle >= 0) return TResult::Acquired;
  for (;;) {
    const int file = open(FFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (file < 0) return TResult::Unavailable;
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(file);
      return error == EWOULDBLOCK ? TResult::HeldElsewhere : TResult::Unavailable;
    }
    if (StillNamed(file, FFile)) {
      FHandle = file;
      return TResult::Acquired;
    }
    close(file);  // a file that is gone: try the one there now
  }
}

void TInstanceLock::Release() {
  if (FHandle < 0) return;
  unlink(FFile.c_str());  // while still locked, so that no one takes the file being removed
  close(static_cast<int>(FHandle));
  FHandle = -1;
}

}  // namespace station
