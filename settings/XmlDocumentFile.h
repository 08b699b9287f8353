// XML documents as files: loading with the file's declared encoding, and
// saving in windows-1250, the code page the settings file is declared in.
#pragma once

#include <pugixml.hpp>

#include <filesystem>
#include <string>

// Loads ADoc from AFile, keeping everything the file holds (declaration,
// comments, processing instructions, document type). Text and attribute
// values are kept as they stand in the file, references unresolved (read
// and write them through XmlText.h), so that saving writes back what it
// does not understand unchanged. A file declared windows-1250 is decoded
// with our table, and so is one without a declaration (or declared UTF-8)
// whose bytes are not UTF-8; UTF-16 and UTF-32 are recognised by their
// byte-order mark. Throws std::runtime_error naming the file and what went
// wrong: the OS reason, an unsupported encoding, a malformed declaration, a
// comment holding "--" or ending in "-" or a CDATA section outside the
// root (which no writer could give back unchanged), or the
// parser's description and the byte offset.
// A file that holds a zero byte (and no byte-order mark of a wide
// encoding) is binary, not XML, and is refused as such. AParsedText, when
// given, receives the UTF-8 text the parser read, so that a node's offset
// (offset_debug) can be turned into a line; it stays empty for a wide
// encoding, which the parser converts itself.
void LoadXmlDocument(pugi::xml_document& ADoc, const std::filesystem::path& AFile,
                     std::string* AParsedText = nullptr);
// Loads ADoc from a UTF-8 text, values kept as they stand; throws std::runtime_error when it is malformed.
void LoadXmlDocumentText(pugi::xml_document& ADoc, const std::string& AText);
// Saves ADoc to AFile declared and encoded as windows-1250, replacing the file
// only once the whole new content is written. Characters the code page cannot
// hold are kept as numeric character references in text and attribute
// values; CDATA sections holding such characters become ordinary text.
// Where XML allows no references (names, comments, processing instructions,
// the document type) such a character makes the save fail: std::runtime_error
// naming the file and the character, and the file is left as it was. Also
// throws, with the path and the OS reason, when the file cannot be written.
void SaveXmlDocumentCp1250(pugi::xml_document& ADoc, const std::filesystem::path& AFile);
