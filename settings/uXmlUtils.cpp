#include "uXmlUtils.h"

#include <algorithm>

std::string GetAttribute(const pugi::xml_node& Node, const char* AttributeName,
                         const std::string& DefaultValue) {
  if (!Node) return DefaultValue;
  const pugi::xml_attribute attribute = Node.attribute(AttributeName);
  if (!attribute) return DefaultValue;
  return attribute.value();
}

int XmlLineAt(const std::string& AText, ptrdiff_t AOffset) {
  if (AOffset < 0 || AText.empty() || static_cast<size_t>(AOffset) > AText.size()) return 0;
  return 1 + static_cast<int>(std::count(AText.begin(), AText.begin() + AOffset, '\n'));
}
