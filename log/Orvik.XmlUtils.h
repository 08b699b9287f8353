// Escaping of text placed into XML attribute values and element content.
#pragma once

#include <string>

// Returns AText with the five characters XML reserves (" & ' < >) replaced
// by their entities. Entities already present are not recognised: every
// ampersand is replaced. Works byte-wise on UTF-8, whose multi-byte
// sequences never contain these ASCII bytes. Callable from any thread.
std::string EncodeXmlData(const std::string& AText);
