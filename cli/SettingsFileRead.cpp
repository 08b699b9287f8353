// Reading the window's settings file without the toolkit: XML with the
// element ApnSettings and the attributes apn, login and password, declared
// windows-1250 (UTF-8 files are read as well).
#include <fstream>
#include <regex>
#include <sstream>

#include <pugixml.hpp>

#include "CliSettings.h"
#include "Cp1250.h"
#include "uXmlUtils.h"

namespace {

ECliUsage FileError(const std::string& AFile, const std::string& AReason) {
  return ECliUsage("settings file \"" + AFile + "\": " + AReason);
}

// The encoding named in the XML declaration, lower case; empty when none.
std::string DeclaredEncoding(const std::string& ABytes) {
  static const std::regex declaration(R"re(^(\xEF\xBB\xBF)?<\?xml[^?]*encoding\s*=\s*["']([^"']*)["'])re");
  std::smatch match;
  if (!std::regex_search(ABytes, match, declaration)) return {};
  std::string name = match[2];
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

void ReadSettingsFile(const std::string& AFile, std::array<std::string, 3>& ATexts) {
  std::ifstream in(AFile, std::ios::binary);
  if (!in) throw FileError(AFile, "cannot be opened");
  std::ostringstream bytes;
  bytes << in.rdbuf();
  std::string text = bytes.str();
  const std::string encoding = DeclaredEncoding(text);
  if (encoding == "windows-1250" || encoding == "cp1250") {
    text = Cp1250ToUtf8(text);
  } else if (!encoding.empty() && encoding != "utf-8" && encoding != "utf8") {
    throw FileError(AFile, "unsupported encoding \"" + encoding + "\"");
  }
  pugi::xml_document xml;
  const pugi::xml_parse_result parsed =
      xml.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed)
    throw FileError(AFile, std::string(parsed.description()) + " at offset " +
                               std::to_string(parsed.offset));
  const pugi::xml_node node = xml.document_element().child("ApnSettings");
  if (!node) throw FileError(AFile, "has no ApnSettings element");
  const char* attributes[] = {"apn", "login", "password"};
  for (size_t i = 0; i < ATexts.size(); ++i) ATexts[i] = GetAttribute(node, attributes[i], ATexts[i]);
}
