// Small helpers for reading XML documents.
#pragma once

#include <pugixml.hpp>

#include <string>

// The value (UTF-8) of Node's attribute AttributeName, or DefaultValue when
// Node is empty or has no such attribute. An attribute present with an empty
// value yields the empty text.
std::string GetAttribute(const pugi::xml_node& Node, const char* AttributeName,
                         const std::string& DefaultValue);
