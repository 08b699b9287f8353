#include "Utf8Names.h"

std::filesystem::path Utf8Path(const std::string& AName) {
  return std::filesystem::path(std::u8string(AName.begin(), AName.end()));
}
