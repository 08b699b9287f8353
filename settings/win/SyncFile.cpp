// Flushing a file on Windows: FlushFileBuffers needs a handle with write access.
#include <windows.h>

#include "SyncFile.h"

bool SyncFileToDisk(const std::filesystem::path& APath) {
  const HANDLE file = CreateFileW(APath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool synced = FlushFileBuffers(file) != 0;
  CloseHandle(file);
  return synced;
}
