#include "uXmlUtils.h"

std::string GetAttribute(const pugi::xml_node& Node, const char* AttributeName,
                         const std::string& DefaultValue) {
  if (!Node) return DefaultValue;
  const pugi::xml_attribute attribute = Node.attribute(AttributeName);
  if (!attribute) return DefaultValue;
  return attribute.value();
}
