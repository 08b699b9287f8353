// The running executable on Linux: the kernel's link in /proc.
#include <system_error>

#include "StationFiles.h"

std::filesystem::path station::RunningExecutable() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : path;
}
