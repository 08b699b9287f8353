#include "SettingsFile.h"

#include "XmlDocumentFile.h"
#include "XmlText.h"
#include "uXmlUtils.h"

#include <system_error>

namespace {
// The document a settings file starts from when there is none yet.
const char kEmptySettingsDocument[] =
    "<?xml version=\"1.0\" encoding=\"windows-1250\"?><xml/>";
const char kSettingsElement[] = "ApnSettings";
const char kApnAttribute[] = "apn";
const char kLoginAttribute[] = "login";
const char kPasswordAttribute[] = "password";

// The document holds values as they stand in the file, references and all.
std::string AttributeOr(const pugi::xml_node& ANode, const char* AName, const std::string& ACurrent) {
  return XmlResolveReferences(GetAttribute(ANode, AName, XmlEscapeAttribute(ACurrent)));
}

void SetAttribute(pugi::xml_node& ANode, const char* AName, const std::string& AValue) {
  pugi::xml_attribute attribute = ANode.attribute(AName);
  if (!attribute) attribute = ANode.append_attribute(AName);
  attribute.set_value(XmlEscapeAttribute(AValue).c_str());
}

pugi::xml_node SettingsElement(const pugi::xml_document& ADoc) {
  return ADoc.document_element().child(kSettingsElement);
}

// The 1-based line of ANode in the text it was parsed from; 0 when unknown.
int LineOf(const pugi::xml_node& ANode, const std::string& AText) {
  return ANode ? XmlLineAt(AText, ANode.offset_debug()) : 0;
}

bool Exists(const std::filesystem::path& APath) {
  std::error_code error;
  return std::filesystem::exists(APath, error);
}
}  // namespace

bool LoadConfiguration(const std::filesystem::path& cfgfile, TApnTexts& AFields, int* AElementLine) {
  if (!Exists(cfgfile)) return false;
  pugi::xml_document xml;
  std::string text;
  LoadXmlDocument(xml, cfgfile, &text);
  const pugi::xml_node node = SettingsElement(xml);
  if (AElementLine != nullptr) *AElementLine = LineOf(node, text);
  AFields.Apn = AttributeOr(node, kApnAttribute, AFields.Apn);
  AFields.Login = AttributeOr(node, kLoginAttribute, AFields.Login);
  AFields.Password = AttributeOr(node, kPasswordAttribute, AFields.Password);
  return static_cast<bool>(node);
}

void SaveConfiguration(const std::filesystem::path& cfgfile, const TApnTexts& AFields) {
  pugi::xml_document xml;
  if (Exists(cfgfile)) {
    LoadXmlDocument(xml, cfgfile);
  } else {
    LoadXmlDocumentText(xml, kEmptySettingsDocument);
  }
  pugi::xml_node node = SettingsElement(xml);
  if (!node) node = xml.document_element().append_child(kSettingsElement);
  SetAttribute(node, kApnAttribute, AFields.Apn);
  SetAttribute(node, kLoginAttribute, AFields.Login);
  SetAttribute(node, kPasswordAttribute, AFields.Password);
  SaveXmlDocumentCp1250(xml, cfgfile);
}
