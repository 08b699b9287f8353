// Text and attribute values as they stand in an XML file, with their
// references unresolved. Settings documents are kept that way so that
// content we do not understand (an entity declared elsewhere, "&nbsp;")
// is written back exactly as it was read.
#pragma once

#include <string>
#include <string_view>

// AText (UTF-8) ready to stand between double quotes: & < > " and the
// control characters (tab and line breaks included, which a reader would
// otherwise turn into blanks) become references.
std::string XmlEscapeAttribute(std::string_view AText);
// AText ready to stand as element content: & < > become references.
std::string XmlEscapeText(std::string_view AText);
// The text a reader sees in a raw value: the five predefined entities and
// numeric character references resolved; any other reference, or an
// ampersand that starts none, is left as it stands.
std::string XmlResolveReferences(std::string_view ARaw);
