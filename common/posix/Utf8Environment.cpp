// The environment is bytes, UTF-8 by convention.
#include <cstdlib>

#include "Utf8Environment.h"

std::optional<std::string> Utf8Environment(const char* AName) {
  const char* value = std::getenv(AName);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}
