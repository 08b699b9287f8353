// The running executable on Windows: the file of the process's own module.
#include <windows.h>

#include <string>

#include "StationFiles.h"

std::filesystem::path station::RunningExecutable() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer);
    }
    buffer.resize(buffer.size() * 2);  // cut off: the path is longer than the buffer
  }
}
