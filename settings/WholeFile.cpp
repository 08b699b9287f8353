#include "WholeFile.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "SyncFile.h"

namespace {

constexpr char kAsideSuffix[] = ".new";

// The reason of the last failed call of the C library (the streams' open,
// read and write end in it).
std::string SystemReason() {
  if (errno == 0) return "input/output error";
  return std::generic_category().message(errno);
}

bool WriteNewContent(const std::filesystem::path& APath, std::string_view ABytes, std::string& AWhy) {
  errno = 0;
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  if (out) {
    out.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
    out.close();
  }
  // On disk before the rename: after a power cut the settings file holds
  // either the old or the new content, never an empty file.
  if (out && SyncFileToDisk(APath)) return true;
  AWhy = SystemReason();
  return false;
}

void KeepPermissions(const std::filesystem::path& AFrom, const std::filesystem::path& ATo) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(AFrom, error);
  if (!error && std::filesystem::exists(status))
    std::filesystem::permissions(ATo, status.permissions(), error);
}

// A link stays a link: the file it leads to is replaced.
std::filesystem::path LinkTarget(const std::filesystem::path& APath) {
  std::error_code error;
  if (!std::filesystem::is_symlink(APath, error)) return APath;
  std::filesystem::path target = std::filesystem::weakly_canonical(APath, error);
  return error ? APath : target;
}

}  // namespace

bool ReadWholeFile(const std::filesystem::path& APath, std::string& ABytes, std::string& AWhy) {
  errno = 0;
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream bytes;
  if (in && in.peek() != std::ifstream::traits_type::eof()) bytes << in.rdbuf();
  if (!in || in.bad()) {
    AWhy = SystemReason();
    return false;
  }
  ABytes = bytes.str();
  return true;
}

bool ReplaceWholeFile(const std::filesystem::path& APath, std::string_view ABytes, std::string& AWhy) {
  const std::filesystem::path file = LinkTarget(APath);
  std::filesystem::path aside = file;
  aside += kAsideSuffix;
  std::error_code error;
  if (WriteNewContent(aside, ABytes, AWhy)) {
    KeepPermissions(file, aside);
    std::filesystem::rename(aside, file, error);
    if (!error) return true;
    AWhy = error.message();
  }
  std::filesystem::remove(aside, error);
  return false;
}
