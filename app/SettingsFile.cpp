#include "SettingsFile.h"

#include "AppFolder.h"
#include "XmlDocumentFile.h"
#include "XmlText.h"
#include "uXmlUtils.h"

#include <QFileInfo>

namespace {
// The document a settings file starts from when there is none yet.
const char kEmptySettingsDocument[] =
    "<?xml version=\"1.0\" encoding=\"windows-1250\"?><xml/>";
const char kSettingsElement[] = "ApnSettings";
const char kApnAttribute[] = "apn";
const char kLoginAttribute[] = "login";
const char kPasswordAttribute[] = "password";
const char kSettingsSuffix[] = ".xml";

// The document holds values as they stand in the file, references and all.
QString AttributeOr(const pugi::xml_node& ANode, const char* AName, const QString& ACurrent) {
  const std::string raw = GetAttribute(ANode, AName, XmlEscapeAttribute(ACurrent.toStdString()));
  return QString::fromStdString(XmlResolveReferences(raw));
}

void SetAttribute(pugi::xml_node& ANode, const char* AName, const QString& AValue) {
  pugi::xml_attribute attribute = ANode.attribute(AName);
  if (!attribute) attribute = ANode.append_attribute(AName);
  attribute.set_value(XmlEscapeAttribute(AValue.toStdString()).c_str());
}

pugi::xml_node SettingsElement(const pugi::xml_document& ADoc) {
  return ADoc.document_element().child(kSettingsElement);
}
}  // namespace

QString SettingsFilePath() { return SettingsFilePathFor(AppFilePath()); }

QString SettingsFilePathFor(const QString& AApplicationFile) {
  const qsizetype dot = AApplicationFile.lastIndexOf('.');
  const qsizetype slash = AApplicationFile.lastIndexOf('/');
  const QString base = dot > slash ? AApplicationFile.left(dot) : AApplicationFile;
  return base + kSettingsSuffix;
}

void LoadConfiguration(const QString& cfgfile, TApnTexts& AFields) {
  if (!QFileInfo::exists(cfgfile)) return;
  pugi::xml_document xml;
  LoadXmlDocument(xml, cfgfile);
  const pugi::xml_node node = SettingsElement(xml);
  AFields.Apn = AttributeOr(node, kApnAttribute, AFields.Apn);
  AFields.Login = AttributeOr(node, kLoginAttribute, AFields.Login);
  AFields.Password = AttributeOr(node, kPasswordAttribute, AFields.Password);
}

void SaveConfiguration(const QString& cfgfile, const TApnTexts& AFields) {
  pugi::xml_document xml;
  if (QFileInfo::exists(cfgfile)) {
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
