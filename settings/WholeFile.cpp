#include "WholeFile.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

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
  if (out) return true;
  AWhy = SystemReason();
  return false;
}

void KeepPermissions(const std::filesystem::path& AFrom, const std::filesystem::path& ATo) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(AFrom, error);
  if (!error && std::filesystem::exists(status))
    std::filesystem::permissions(ATo, status.permissions(), error);
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
  std::filesystem::path aside = APath;
  aside += kAsideSuffix;
  std::error_code error;
  if (WriteNewContent(aside, ABytes, AWhy)) {
    KeepPermissions(APath, aside);
    std::filesystem::rename(aside, APath, error);
    if (!error) return true;
    AWhy = error.message();
  }
  std::filesystem::remove(aside, error);
  return false;
}
