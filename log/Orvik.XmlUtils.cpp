#include "Orvik.XmlUtils.h"

namespace {
const char* EntityFor(char c) {
  switch (c) {
    case '"': return "&quot;";
    case '&': return "&amp;";
    case '\'': return "&apos;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    default: return nullptr;
  }
}
}  // namespace

std::string EncodeXmlData(const std::string& AText) {
  std::string result;
  result.reserve(AText.size());
  for (const char c : AText) {
    if (const char* entity = EntityFor(c)) {
      result += entity;
    } else {
      result += c;
    }
  }
  return result;
}
