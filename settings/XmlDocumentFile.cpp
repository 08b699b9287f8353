#include "XmlDocumentFile.h"

#include "Cp1250.h"
#include "HexText.h"
#include "Utf8.h"
#include "WholeFile.h"
#include "XmlText.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {
// Keep every kind of node a file may hold, and text and attribute values as
// they stand (references unresolved), so saving gives back what was loaded.
constexpr unsigned kParseOptions = pugi::parse_full & ~pugi::parse_escapes;
constexpr unsigned kSaveFormat =
    pugi::format_default | pugi::format_no_declaration | pugi::format_no_escapes;
// A declaration names at most version, encoding and standalone; anything
// longer than this is not one we can read.
constexpr size_t kMaxDeclarationLength = 1024;
constexpr char kCp1250Name[] = "windows-1250";

enum class TSourceEncoding { Utf8, Cp1250, ByByteOrderMark };

std::runtime_error LoadError(const std::string& APath, const std::string& AReason) {
  return std::runtime_error("Cannot load \"" + APath + "\": " + AReason);
}

std::runtime_error SaveError(const std::string& APath, const std::string& AReason) {
  return std::runtime_error("Cannot save \"" + APath + "\": " + AReason);
}

bool StartsWith(const std::string& AText, std::string_view APrefix) {
  return AText.compare(0, APrefix.size(), APrefix) == 0;
}

bool HasWideByteOrderMark(const std::string& ABytes) {
  return StartsWith(ABytes, "\xFF\xFE") || StartsWith(ABytes, "\xFE\xFF") ||
         StartsWith(ABytes, std::string_view("\x00\x00\xFE\xFF", 4));
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.' ||
         c == ':';
}

std::string Lower(std::string AText) {
  std::transform(AText.begin(), AText.end(), AText.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return AText;
}

// The encoding named in the XML declaration, in lower case; empty when the
// file has no declaration or the declaration names none. Reads the
// pseudo-attributes one by one, within the first kMaxDeclarationLength
// bytes; a declaration that is not closed there or is not a list of
// name="value" pairs is a load error.
std::string DeclaredEncoding(const std::string& ABytes, const std::string& APath) {
  const size_t start = StartsWith(ABytes, "\xEF\xBB\xBF") ? 3 : 0;
  // The parser takes "<?xml" in any case for the declaration; so do we.
  if (ABytes.size() <= start + 5 || Lower(ABytes.substr(start, 5)) != "<?xml" ||
      !IsXmlSpace(ABytes[start + 5])) {
    return {};
  }
  const size_t end = ABytes.find("?>", start);
  if (end == std::string::npos || end - start > kMaxDeclarationLength) {
    throw LoadError(APath, "XML declaration not closed within the first " +
                               std::to_string(kMaxDeclarationLength) + " bytes");
  }
  const std::string_view body = std::string_view(ABytes).substr(start + 5, end - start - 5);
  const auto malformed = [&] { return LoadError(APath, "malformed XML declaration"); };
  std::string encoding;
  size_t pos = 0;
  const auto skipSpace = [&] {
    while (pos < body.size() && IsXmlSpace(body[pos])) ++pos;
  };
  for (skipSpace(); pos < body.size(); skipSpace()) {
    const size_t nameStart = pos;
    while (pos < body.size() && IsNameChar(body[pos])) ++pos;
    const std::string_view name = body.substr(nameStart, pos - nameStart);
    skipSpace();
    if (name.empty() || pos >= body.size() || body[pos] != '=') throw malformed();
    ++pos;
    skipSpace();
    if (pos >= body.size() || (body[pos] != '"' && body[pos] != '\'')) throw malformed();
    const size_t close = body.find(body[pos], pos + 1);
    if (close == std::string_view::npos) throw malformed();
    if (name == "encoding") encoding = Lower(std::string(body.substr(pos + 1, close - pos - 1)));
    pos = close + 1;
  }
  return encoding;
}

TSourceEncoding SourceEncoding(const std::string& ABytes, const std::string& APath) {
  if (HasWideByteOrderMark(ABytes)) return TSourceEncoding::ByByteOrderMark;
  const std::string name = DeclaredEncoding(ABytes, APath);
  if (name == kCp1250Name || name == "cp1250" || name == "x-cp1250") {
    return TSourceEncoding::Cp1250;
  }
  // A file that is not UTF-8 although it says nothing (or says UTF-8) was
  // written in the code page we write, by an older run or by hand.
  if (name.empty() || name == "utf-8" || name == "utf8") {
    return IsUtf8(ABytes) ? TSourceEncoding::Utf8 : TSourceEncoding::Cp1250;
  }
  throw LoadError(APath, "unsupported encoding \"" + name + "\"");
}

// Byte offset in the windows-1250 file of an offset into its UTF-8 decoding:
// one file byte per character.
size_t Cp1250Offset(const std::string& AUtf8, size_t AOffset) {
  const size_t end = std::min(AOffset, AUtf8.size());
  return static_cast<size_t>(std::count_if(AUtf8.begin(), AUtf8.begin() + end, [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// Attribute values are saved between double quotes and unescaped; a value
// read from between single quotes may hold a double quote.
class TQuoteAttributes : public pugi::xml_tree_walker {
 public:
  bool for_each(pugi::xml_node& ANode) override {
    for (pugi::xml_attribute a : ANode.attributes()) {
      const std::string_view value = a.value();
      if (value.find('"') == std::string_view::npos) continue;
      std::string quoted;
      for (const char c : value) quoted += c == '"' ? std::string("&quot;") : std::string(1, c);
      a.set_value(quoted.c_str());
    }
    return true;
  }
};

void QuoteAttributesForSaving(pugi::xml_document& ADoc) {
  TQuoteAttributes quote;
  ADoc.traverse(quote);
}

// What the parser lets pass but XML forbids, and no writer could give back
// unchanged: "--" inside a comment or a "-" at its end, and a CDATA section
// outside the root element (saved as text, it would be dropped at the next
// load). The reason, or empty when the node is fine.
std::string Unwritable(const pugi::xml_node& ANode) {
  if (ANode.type() == pugi::node_comment) {
    const char* text = ANode.value();
    const size_t length = std::strlen(text);
    if (std::strstr(text, "--") != nullptr || (length > 0 && text[length - 1] == '-'))
      return "a comment holds \"--\" or ends in \"-\"";
  }
  if (ANode.type() == pugi::node_cdata && ANode.parent().type() == pugi::node_document)
    return "a CDATA section stands outside the root element";
  return {};
}

class TFindUnwritable : public pugi::xml_tree_walker {
 public:
  pugi::xml_node Found;
  std::string Reason;
  bool for_each(pugi::xml_node& ANode) override {
    Reason = Unwritable(ANode);
    if (Reason.empty()) return true;
    Found = ANode;
    return false;
  }
};

void Parse(pugi::xml_document& ADoc, const std::string& ABuffer, pugi::xml_encoding AEncoding,
           bool AFromCp1250, const std::string& APath) {
  const pugi::xml_parse_result result =
      ADoc.load_buffer(ABuffer.data(), ABuffer.size(), kParseOptions, AEncoding);
  const auto fileOffset = [&](ptrdiff_t AOffset) {
    return AFromCp1250 ? Cp1250Offset(ABuffer, static_cast<size_t>(AOffset))
                       : static_cast<size_t>(AOffset);
  };
  // A text file that is no XML at all (an image given by mistake) holds no element.
  if (result.status == pugi::status_no_document_element) throw LoadError(APath, "the file holds no XML element");
  if (!result) {
    throw LoadError(APath, std::string(result.description()) + " at offset " +
                               std::to_string(fileOffset(result.offset)));
  }
  TFindUnwritable unwritable;
  ADoc.traverse(unwritable);
  if (unwritable.Found) {
    throw LoadError(APath, unwritable.Reason + " at offset " +
                               std::to_string(fileOffset(unwritable.Found.offset_debug())));
  }
  QuoteAttributesForSaving(ADoc);
}

// ---- saving ----------------------------------------------------------------

void RequireCp1250(const char* AText, const char* AWhere, const std::string& APath) {
  if (const auto code = FirstCharOutsideCp1250(AText)) {
    throw SaveError(APath, "the character U+" + Hex4(*code) + " in " + AWhere + " has no form in " +
                               kCp1250Name);
  }
}

// Checks the markup that cannot carry character references and collects the
// CDATA sections that must become text. Iterative, so deep documents are safe.
class TCp1250Check : public pugi::xml_tree_walker {
 public:
  explicit TCp1250Check(const std::string& APath) : FPath(APath) {}
  std::vector<pugi::xml_node> CdataToConvert;

  bool for_each(pugi::xml_node& ANode) override {
    switch (ANode.type()) {
      case pugi::node_element:
        RequireCp1250(ANode.name(), "an element name", FPath);
        for (const pugi::xml_attribute& a : ANode.attributes()) {
          RequireCp1250(a.name(), "an attribute name", FPath);
        }
        break;
      case pugi::node_cdata:
        if (FirstCharOutsideCp1250(ANode.value())) CdataToConvert.push_back(ANode);
        break;
      case pugi::node_comment:
        RequireCp1250(ANode.value(), "a comment", FPath);
        break;
      case pugi::node_pi:
        RequireCp1250(ANode.name(), "a processing instruction", FPath);
        RequireCp1250(ANode.value(), "a processing instruction", FPath);
        break;
      case pugi::node_declaration:
        for (const pugi::xml_attribute& a : ANode.attributes()) {
          RequireCp1250(a.name(), "the XML declaration", FPath);
          RequireCp1250(a.value(), "the XML declaration", FPath);
        }
        break;
      case pugi::node_doctype:
        RequireCp1250(ANode.value(), "the document type", FPath);
        break;
      default:
        break;
    }
    return true;
  }

 private:
  const std::string& FPath;
};

void ConvertCdataToText(const std::vector<pugi::xml_node>& ASections) {
  for (pugi::xml_node cdata : ASections) {
    pugi::xml_node parent = cdata.parent();
    parent.insert_child_before(pugi::node_pcdata, cdata)
        .set_value(XmlEscapeText(cdata.value()).c_str());
    parent.remove_child(cdata);
  }
}

// The declaration says windows-1250, whatever the loaded file said, and
// holds only what a declaration may: version, encoding and standalone.
void DeclareCp1250(pugi::xml_document& ADoc) {
  pugi::xml_node declaration = ADoc.first_child();
  if (declaration.type() != pugi::node_declaration) {
    declaration = ADoc.prepend_child(pugi::node_declaration);
  }
  declaration.set_name("xml");  // the parser also takes "<?XML" and the like
  const std::string version = declaration.attribute("version").value();
  const std::string standalone = declaration.attribute("standalone").value();
  while (declaration.first_attribute()) declaration.remove_attribute(declaration.first_attribute());
  declaration.append_attribute("version").set_value(version == "1.1" ? "1.1" : "1.0");
  declaration.append_attribute("encoding").set_value(kCp1250Name);
  if (standalone == "yes" || standalone == "no") {
    declaration.append_attribute("standalone").set_value(standalone.c_str());
  }
}

class TStringWriter : public pugi::xml_writer {
 public:
  std::string Text;
  void write(const void* AData, size_t ASize) override {
    Text.append(static_cast<const char*>(AData), ASize);
  }
};

std::string SerializeUtf8(const pugi::xml_document& ADoc) {
  TStringWriter writer;
  // The document carries its own declaration (DeclareCp1250).
  ADoc.save(writer, "\t", kSaveFormat, pugi::encoding_utf8);
  return writer.Text;
}

}  // namespace

void LoadXmlDocument(pugi::xml_document& ADoc, const std::filesystem::path& AFile, std::string* AParsedText) {
  const std::string path = PathToUtf8(AFile);
  std::string bytes, why;
  if (!ReadWholeFile(AFile, bytes, why)) throw LoadError(path, why);
  const TSourceEncoding encoding = SourceEncoding(bytes, path);
  if (const size_t zero = bytes.find('\0'); zero != std::string::npos && encoding != TSourceEncoding::ByByteOrderMark)
    throw LoadError(path, "the file holds binary data (a zero byte at offset " + std::to_string(zero) + "), not XML");
  std::string text = encoding == TSourceEncoding::Cp1250 ? Cp1250ToUtf8(bytes) : std::string();
  switch (encoding) {
    case TSourceEncoding::Cp1250:
      Parse(ADoc, text, pugi::encoding_utf8, true, path);
      break;
    case TSourceEncoding::Utf8:
      Parse(ADoc, bytes, pugi::encoding_utf8, false, path);
      text = std::move(bytes);
      break;
    case TSourceEncoding::ByByteOrderMark:
      Parse(ADoc, bytes, pugi::encoding_auto, false, path);
      break;
  }
  if (AParsedText != nullptr) *AParsedText = std::move(text);
}

void LoadXmlDocumentText(pugi::xml_document& ADoc, const std::string& AText) {
  Parse(ADoc, AText, pugi::encoding_utf8, false, "(built-in text)");
}

void SaveXmlDocumentCp1250(pugi::xml_document& ADoc, const std::filesystem::path& AFile) {
  const std::string path = PathToUtf8(AFile);
  TCp1250Check check(path);
  ADoc.traverse(check);
  ConvertCdataToText(check.CdataToConvert);
  DeclareCp1250(ADoc);
  // After the check, characters outside the code page remain only in text and
  // attribute values, where references are legal.
  std::string why;
  if (!ReplaceWholeFile(AFile, Utf8ToCp1250(SerializeUtf8(ADoc)), why)) throw SaveError(path, why);
}
