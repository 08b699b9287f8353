// Small helpers for reading XML documents.
#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <string>

// The value (UTF-8) of Node's attribute AttributeName, or DefaultValue when
// Node is empty or has no such attribute. An attribute present with an empty
// value yields the empty text.
std::string GetAttribute(const pugi::xml_node& Node, const char* AttributeName,
                         const std::string& DefaultValue);

// The 1-based line of AOffset (as the parser reports offsets: bytes into
// the UTF-8 text it read) in AText; 0 when the offset is unknown (negative)
// or beyond the text.
int XmlLineAt(const std::string& AText, ptrdiff_t AOffset);
