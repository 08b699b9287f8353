// Flushing a file on Linux: fsync on a descriptor of it.
#include "SyncFile.h"

#include <fcntl.h>
#include <unistd.h>

bool SyncFileToDisk(const std::filesystem::path& APath) {
  const int fd = ::open(APath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}
