#include "TiTxtFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "Utf8.h"

std::vector<std::string> SplitTiTxtLines(const std::string& AText) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  for (size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
      open = false;
    } else {
      line += c;
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

std::string TiTxtFileProblem(const std::string& AFileName) {
  std::error_code error;
  const auto status = std::filesystem::status(Utf8ToPath(AFileName), error);  // follows links
  if (error || !std::filesystem::exists(status)) return "the file does not exist";
  if (std::filesystem::is_directory(status))
    return "the file cannot be read: " + std::make_error_code(std::errc::is_a_directory).message();
  return {};
}

ETiTxtFileError::ETiTxtFileError(const std::string& AFileName, std::string AReason)
    : std::runtime_error("Cannot read file \"" + AFileName + "\": " + AReason), FReason(std::move(AReason)) {}

std::string ReadTiTxtFile(const std::string& AFileName) {
  errno = 0;
  std::ifstream in(Utf8ToPath(AFileName), std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) throw ETiTxtFileError(AFileName, errno != 0 ? std::strerror(errno) : "unknown error");
  std::string content = text.str();
  static const std::string kUtf8Bom = "\xEF\xBB\xBF";
  if (content.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) content.erase(0, kUtf8Bom.size());
  return content;
}

long long TiTxtFileSize(const std::string& AFileName) {
  std::error_code error;
  const auto size = std::filesystem::file_size(Utf8ToPath(AFileName), error);
  return error ? -1 : static_cast<long long>(size);
}
