#include "SettingsFile.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <stdexcept>

namespace {

QString U(const char* AUtf8) { return QString::fromUtf8(AUtf8); }

const TApnTexts kDefaults{"internet", "user", "40817"};
const char kCp1250Declaration[] = R"(<?xml version="1.0" encoding="windows-1250"?>)";

class SettingsFileTest : public ::testing::Test {
 protected:
  QTemporaryDir Dir;
  QString Path = Dir.filePath("KestrovaSetup.xml");

  void WriteRaw(const QByteArray& ABytes) {
    QFile file(Path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(ABytes);
  }
  QByteArray ReadRaw() const {
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  TApnTexts Load() const {
    TApnTexts fields = kDefaults;
    LoadConfiguration(Path, fields);
    return fields;
  }
  // The saved file parsed back as windows-1250 text, for checks of its structure.
  pugi::xml_document Saved() const {
    pugi::xml_document doc;
    const QByteArray bytes = ReadRaw();
    EXPECT_TRUE(doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_full,
                                pugi::encoding_latin1));
    return doc;
  }
};

void ExpectFields(const TApnTexts& AActual, const TApnTexts& AExpected) {
  EXPECT_EQ(AActual.Apn, AExpected.Apn);
  EXPECT_EQ(AActual.Login, AExpected.Login);
  EXPECT_EQ(AActual.Password, AExpected.Password);
}

std::vector<std::string> AttributeNames(const pugi::xml_node& ANode) {
  std::vector<std::string> names;
  for (const auto& a : ANode.attributes()) names.push_back(a.name());
  return names;
}

std::vector<std::string> ChildNames(const pugi::xml_node& ANode) {
  std::vector<std::string> names;
  for (const auto& c : ANode.children()) {
    names.push_back(c.type() == pugi::node_comment ? "#comment" : c.name());
  }
  return names;
}

TEST_F(SettingsFileTest, FirstRunKeepsDefaultsAndCreatesTheFile) {
  ExpectFields(Load(), kDefaults);
  SaveConfiguration(Path, kDefaults);
  EXPECT_TRUE(ReadRaw().startsWith(kCp1250Declaration)) << ReadRaw().constData();
  const pugi::xml_document doc = Saved();
  EXPECT_STREQ(doc.document_element().name(), "xml");
  EXPECT_EQ(ChildNames(doc.document_element()), std::vector<std::string>{"ApnSettings"});
  const pugi::xml_node node = doc.document_element().child("ApnSettings");
  EXPECT_EQ(AttributeNames(node), (std::vector<std::string>{"apn", "login", "password"}));
  ExpectFields(Load(), kDefaults);
}

TEST_F(SettingsFileTest, MissingAttributesKeepTheirDefaultsAndAreAddedAtSave) {
  WriteRaw(QByteArray(kCp1250Declaration) + R"(<xml><ApnSettings apn="gprs.cz"/></xml>)");
  ExpectFields(Load(), {"gprs.cz", "user", "40817"});
  SaveConfiguration(Path, {"gprs.cz", "u2", "p2"});
  EXPECT_EQ(AttributeNames(Saved().document_element().child("ApnSettings")),
            (std::vector<std::string>{"apn", "login", "password"}));
  ExpectFields(Load(), {"gprs.cz", "u2", "p2"});
}

TEST_F(SettingsFileTest, ForeignContentStaysInPlace) {
  WriteRaw(R"(<?xml version="1.0" encoding="windows-1250"?>
<config><Other x="1"/><!-- note --><ApnSettings extra="e" apn="a"/><More/></config>)");
  SaveConfiguration(Path, {"n", "l", "p"});
  const pugi::xml_document doc = Saved();
  EXPECT_STREQ(doc.document_element().name(), "config");
  EXPECT_EQ(ChildNames(doc.document_element()),
            (std::vector<std::string>{"Other", "#comment", "ApnSettings", "More"}));
  const pugi::xml_node node = doc.document_element().child("ApnSettings");
  EXPECT_EQ(AttributeNames(node),
            (std::vector<std::string>{"extra", "apn", "login", "password"}));
  EXPECT_STREQ(doc.document_element().child("Other").attribute("x").value(), "1");
}

TEST_F(SettingsFileTest, MissingSettingsElementIsAppendedLast) {
  WriteRaw(R"(<xml><First/><Second/></xml>)");
  ExpectFields(Load(), kDefaults);
  SaveConfiguration(Path, kDefaults);
  EXPECT_EQ(ChildNames(Saved().document_element()),
            (std::vector<std::string>{"First", "Second", "ApnSettings"}));
}

TEST_F(SettingsFileTest, OnlyTheFirstSettingsElementIsUsed) {
  WriteRaw(R"(<xml><ApnSettings apn="one"/><ApnSettings apn="two"/></xml>)");
  ExpectFields(Load(), {"one", "user", "40817"});
  SaveConfiguration(Path, {"three", "l", "p"});
  const pugi::xml_node second = Saved().document_element().last_child();
  EXPECT_STREQ(second.attribute("apn").value(), "two");
}

struct TRoundTrip {
  const char* Label;
  TApnTexts Fields;
};
void PrintTo(const TRoundTrip& ACase, std::ostream* AOut) { *AOut << ACase.Label; }

class SettingsRoundTripTest : public SettingsFileTest,
                              public ::testing::WithParamInterface<TRoundTrip> {};

TEST_P(SettingsRoundTripTest, SavedTextsComeBackUnchanged) {
  SaveConfiguration(Path, GetParam().Fields);
  ExpectFields(Load(), GetParam().Fields);
  SaveConfiguration(Path, GetParam().Fields);  // a second save over the file it wrote
  ExpectFields(Load(), GetParam().Fields);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SettingsRoundTripTest,
    ::testing::Values(
        TRoundTrip{"EmptyValues", {"", "", ""}},
        TRoundTrip{"XmlSpecialCharacters", {R"(a"b&c)", "<l>'x'", "&amp;"}},
        TRoundTrip{"Czech", {U("ěščřžýáíé"), U("ĚŠČŘŽÝÁÍÉ"), U("ůú€")}},
        TRoundTrip{"OutsideTheCodePage", {U("日本"), U("Ωmega 😀"), U("Ā")}},
        TRoundTrip{"Whitespace", {"  lead", "tab\there", "line\nbreak"}}),
    [](const auto& AInfo) { return std::string(AInfo.param.Label); });

TEST_F(SettingsFileTest, CzechTextIsStoredAsWindows1250Bytes) {
  SaveConfiguration(Path, {U("ěščřžýáíé"), "l", "p"});
  EXPECT_TRUE(ReadRaw().contains("apn=\"\xEC\x9A\xE8\xF8\x9E\xFD\xE1\xED\xE9\""))
      << ReadRaw().constData();
}

TEST_F(SettingsFileTest, CharactersOutsideTheCodePageAreWrittenAsReferences) {
  SaveConfiguration(Path, {U("日本"), "l", "p"});
  EXPECT_TRUE(ReadRaw().contains(R"(apn="&#26085;&#26412;")")) << ReadRaw().constData();
}

TEST_F(SettingsFileTest, Utf8FileIsReadAndRewrittenAsWindows1250) {
  WriteRaw(R"(<?xml version="1.0" encoding="UTF-8"?><xml><ApnSettings apn="čau"/></xml>)");
  ExpectFields(Load(), {U("čau"), "user", "40817"});
  SaveConfiguration(Path, {U("čau"), "l", "p"});
  EXPECT_TRUE(ReadRaw().startsWith(kCp1250Declaration));
  EXPECT_TRUE(ReadRaw().contains("apn=\"\xE8" "au\""));
}

TEST_F(SettingsFileTest, CdataOutsideTheCodePageBecomesText) {
  WriteRaw(R"(<xml><Note><![CDATA[日本 <b>]]></Note></xml>)");
  SaveConfiguration(Path, kDefaults);
  const pugi::xml_node text = Saved().document_element().child("Note").first_child();
  EXPECT_EQ(text.type(), pugi::node_pcdata);
  EXPECT_STREQ(text.value(), "日本 <b>");
  EXPECT_TRUE(ReadRaw().contains("&#26085;&#26412;")) << ReadRaw().constData();
}

TEST_F(SettingsFileTest, CommentOutsideTheCodePageFailsTheSaveAndKeepsTheFile) {
  const QByteArray original = R"(<xml><!-- 日本 --></xml>)";
  WriteRaw(original);
  try {
    SaveConfiguration(Path, kDefaults);
    FAIL() << "a comment cannot hold character references";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(Path.toStdString()), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("U+65E5"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadRaw(), original);
}

struct TBadFile {
  const char* Label;
  QByteArray Content;
  std::string ExpectedInMessage;
};
void PrintTo(const TBadFile& ACase, std::ostream* AOut) { *AOut << ACase.Label; }

class SettingsBadFileTest : public SettingsFileTest,
                            public ::testing::WithParamInterface<TBadFile> {};

TEST_P(SettingsBadFileTest, LoadAndSaveFailNamingTheFileWhichStaysUntouched) {
  WriteRaw(GetParam().Content);
  for (const bool saving : {false, true}) {
    try {
      if (saving) {
        SaveConfiguration(Path, kDefaults);
      } else {
        Load();
      }
      ADD_FAILURE() << (saving ? "save" : "load") << " did not fail";
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(Path.toStdString()), std::string::npos) << message;
      EXPECT_NE(message.find(GetParam().ExpectedInMessage), std::string::npos) << message;
    }
  }
  EXPECT_EQ(ReadRaw(), GetParam().Content);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsBadFileTest,
    ::testing::Values(
        TBadFile{"UnclosedElement", R"(<xml><ApnSettings apn="x"></xml>)",
                 "Start-end tags mismatch at offset"},
        TBadFile{"Empty", "", "No document element found at offset 0"},
        // The offset counts bytes of the file, not of its decoded text.
        TBadFile{"OffsetInWindows1250Bytes",
                 QByteArray(kCp1250Declaration) + "<a b=\"\xE8\xE8\xE8\"/><",
                 "at offset " + std::to_string(sizeof kCp1250Declaration - 1 + 12)},
        TBadFile{"UnsupportedEncoding",
                 R"(<?xml version="1.0" encoding="koi8-r"?><xml/>)",
                 R"(unsupported encoding "koi8-r")"}),
    [](const auto& AInfo) { return std::string(AInfo.param.Label); });

TEST_F(SettingsFileTest, EveryTruncatedPrefixLoadsOrFailsCleanly) {
  WriteRaw(R"(<xml><!-- c --><Other a="&amp;"/><![CDATA[x]]></xml>)");
  SaveConfiguration(Path, {U("žluť 日本"), "", "x"});
  const QByteArray full = ReadRaw();
  for (qsizetype length = 0; length < full.size(); ++length) {
    WriteRaw(full.left(length));
    try {
      Load();
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(Path.toStdString()), std::string::npos);
    }
  }
}

TEST_F(SettingsFileTest, UnwritableFileFailsNamingThePath) {
  // A path below a plain file cannot be created, also for root.
  QFile blocker(Dir.filePath("blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString path = Dir.filePath("blocker/KestrovaSetup.xml");
  try {
    SaveConfiguration(path, kDefaults);
    FAIL() << "the save must fail";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot save \"" + path.toStdString() + "\": "),
              std::string::npos)
        << e.what();
  }
}

struct TPathCase {
  QString Application;
  QString Settings;
};

class SettingsPathTest : public ::testing::TestWithParam<TPathCase> {};

TEST_P(SettingsPathTest, ExtensionIsReplacedByXml) {
  EXPECT_EQ(SettingsFilePathFor(GetParam().Application), GetParam().Settings);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SettingsPathTest,
    ::testing::Values(TPathCase{"C:/Tools/KestrovaSetup.exe", "C:/Tools/KestrovaSetup.xml"},
                      TPathCase{"/opt/kestrova/KestrovaSetup", "/opt/kestrova/KestrovaSetup.xml"},
                      TPathCase{"/opt/k.1/KestrovaSetup", "/opt/k.1/KestrovaSetup.xml"},
                      TPathCase{"/opt/Kestrova.v2.exe", "/opt/Kestrova.v2.xml"}));

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs the binary without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
