#include "XmlDocumentFile.h"

#include "Cp1250.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <regex>
#include <stdexcept>
#include <vector>

namespace {
// Keep every kind of node a file may hold, so saving gives back what was loaded.
constexpr unsigned kParseOptions = pugi::parse_full;
constexpr char kCp1250Name[] = "windows-1250";

enum class TSourceEncoding { Utf8, Cp1250, ByByteOrderMark };

std::runtime_error LoadError(const QString& APath, const std::string& AReason) {
  return std::runtime_error("Cannot load \"" + APath.toStdString() + "\": " + AReason);
}

std::runtime_error SaveError(const QString& APath, const std::string& AReason) {
  return std::runtime_error("Cannot save \"" + APath.toStdString() + "\": " + AReason);
}

std::string ReadAll(const QString& APath) {
  QFile file(APath);
  if (!file.open(QIODevice::ReadOnly)) throw LoadError(APath, file.errorString().toStdString());
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    throw LoadError(APath, file.errorString().toStdString());
  }
  return bytes.toStdString();
}

bool StartsWith(const std::string& AText, std::string_view APrefix) {
  return AText.compare(0, APrefix.size(), APrefix) == 0;
}

bool HasWideByteOrderMark(const std::string& ABytes) {
  return StartsWith(ABytes, "\xFF\xFE") || StartsWith(ABytes, "\xFE\xFF") ||
         StartsWith(ABytes, std::string_view("\x00\x00\xFE\xFF", 4));
}

// The encoding named in the XML declaration, in lower case; empty when none.
std::string DeclaredEncoding(const std::string& ABytes) {
  const size_t start = StartsWith(ABytes, "\xEF\xBB\xBF") ? 3 : 0;
  if (ABytes.compare(start, 5, "<?xml") != 0) return {};
  const size_t end = ABytes.find("?>", start);
  if (end == std::string::npos) return {};
  static const std::regex encoding(R"re(encoding\s*=\s*["']([^"']*)["'])re");
  std::smatch match;
  const std::string declaration = ABytes.substr(start, end - start);
  if (!std::regex_search(declaration, match, encoding)) return {};
  std::string name = match[1];
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

TSourceEncoding SourceEncoding(const std::string& ABytes, const QString& APath) {
  if (HasWideByteOrderMark(ABytes)) return TSourceEncoding::ByByteOrderMark;
  const std::string name = DeclaredEncoding(ABytes);
  if (name == kCp1250Name || name == "cp1250" || name == "x-cp1250") {
    return TSourceEncoding::Cp1250;
  }
  if (name.empty() || name == "utf-8" || name == "utf8") return TSourceEncoding::Utf8;
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

void Parse(pugi::xml_document& ADoc, const std::string& ABuffer, pugi::xml_encoding AEncoding,
           bool AFromCp1250, const QString& APath) {
  const pugi::xml_parse_result result =
      ADoc.load_buffer(ABuffer.data(), ABuffer.size(), kParseOptions, AEncoding);
  if (result) return;
  const size_t offset = AFromCp1250 ? Cp1250Offset(ABuffer, result.offset)
                                    : static_cast<size_t>(result.offset);
  throw LoadError(APath, std::string(result.description()) + " at offset " +
                             std::to_string(offset));
}

// ---- saving ----------------------------------------------------------------

void RequireCp1250(const char* AText, const char* AWhere, const QString& APath) {
  if (const auto code = FirstCharOutsideCp1250(AText)) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(*code));
    throw SaveError(APath, std::string("the character ") + name + " in " + AWhere +
                               " has no form in " + kCp1250Name);
  }
}

// Checks the markup that cannot carry character references and collects the
// CDATA sections that must become text. Iterative, so deep documents are safe.
class TCp1250Check : public pugi::xml_tree_walker {
 public:
  explicit TCp1250Check(const QString& APath) : FPath(APath) {}
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
  const QString& FPath;
};

void ConvertCdataToText(const std::vector<pugi::xml_node>& ASections) {
  for (pugi::xml_node cdata : ASections) {
    pugi::xml_node parent = cdata.parent();
    parent.insert_child_before(pugi::node_pcdata, cdata).set_value(cdata.value());
    parent.remove_child(cdata);
  }
}

// The declaration says windows-1250, whatever the loaded file said.
void DeclareCp1250(pugi::xml_document& ADoc) {
  pugi::xml_node declaration = ADoc.first_child();
  if (declaration.type() != pugi::node_declaration) {
    declaration = ADoc.prepend_child(pugi::node_declaration);
  }
  pugi::xml_attribute version = declaration.attribute("version");
  if (!version) version = declaration.prepend_attribute("version");
  if (!*version.value()) version.set_value("1.0");
  pugi::xml_attribute encoding = declaration.attribute("encoding");
  if (!encoding) encoding = declaration.insert_attribute_after("encoding", version);
  encoding.set_value(kCp1250Name);
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
  ADoc.save(writer, "\t", pugi::format_default | pugi::format_no_declaration,
            pugi::encoding_utf8);
  return writer.Text;
}

void WriteAll(const QString& APath, const std::string& ABytes) {
  QSaveFile file(APath);
  if (!file.open(QIODevice::WriteOnly)) throw SaveError(APath, file.errorString().toStdString());
  const auto size = static_cast<qint64>(ABytes.size());
  if (file.write(ABytes.data(), size) != size || !file.commit()) {
    throw SaveError(APath, file.errorString().toStdString());
  }
}
}  // namespace

void LoadXmlDocument(pugi::xml_document& ADoc, const QString& APath) {
  const std::string bytes = ReadAll(APath);
  switch (SourceEncoding(bytes, APath)) {
    case TSourceEncoding::Cp1250:
      Parse(ADoc, Cp1250ToUtf8(bytes), pugi::encoding_utf8, true, APath);
      break;
    case TSourceEncoding::Utf8:
      Parse(ADoc, bytes, pugi::encoding_utf8, false, APath);
      break;
    case TSourceEncoding::ByByteOrderMark:
      Parse(ADoc, bytes, pugi::encoding_auto, false, APath);
      break;
  }
}

void LoadXmlDocumentText(pugi::xml_document& ADoc, const std::string& AText) {
  Parse(ADoc, AText, pugi::encoding_utf8, false, "(built-in text)");
}

void SaveXmlDocumentCp1250(pugi::xml_document& ADoc, const QString& APath) {
  TCp1250Check check(APath);
  ADoc.traverse(check);
  ConvertCdataToText(check.CdataToConvert);
  DeclareCp1250(ADoc);
  // After the check, characters outside the code page remain only in text and
  // attribute values, where references are legal.
  WriteAll(APath, Utf8ToCp1250(SerializeUtf8(ADoc)));
}
