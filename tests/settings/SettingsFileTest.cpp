#include "SettingsFile.h"
#include "XmlText.h"

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
  const pugi::xml_document doc = Saved();
  const pugi::xml_node second = doc.document_element().last_child();
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

// Older or hand-edited files are in the code page the application writes,
// but say nothing about it.
TEST_F(SettingsFileTest, UndeclaredWindows1250FileIsReadAndSavedIntact) {
  WriteRaw("<xml><Town name=\"\x8Aumperk\">\x8E" "atec</Town><ApnSettings apn=\"\x8Aumperk\"/></xml>");
  ExpectFields(Load(), {U("Šumperk"), "user", "40817"});
  SaveConfiguration(Path, {U("Šumperk"), "user", "40817"});
  const QByteArray saved = ReadRaw();
  EXPECT_TRUE(saved.contains("apn=\"\x8Aumperk\"")) << saved.constData();
  EXPECT_TRUE(saved.contains("<Town name=\"\x8Aumperk\">\x8E" "atec</Town>")) << saved.constData();
  ExpectFields(Load(), {U("Šumperk"), "user", "40817"});
}

TEST_F(SettingsFileTest, FileDeclaredUtf8ButNotUtf8IsReadAsWindows1250) {
  WriteRaw("<?xml version=\"1.0\" encoding=\"utf-8\"?><xml><ApnSettings apn=\"\x8Aumperk\"/></xml>");
  ExpectFields(Load(), {U("Šumperk"), "user", "40817"});
}

TEST_F(SettingsFileTest, UndeclaredUtf8FileStaysUtf8) {
  WriteRaw("<xml><ApnSettings apn=\"\xC5\xA0umperk\"/></xml>");
  ExpectFields(Load(), {U("Šumperk"), "user", "40817"});
}

TEST_F(SettingsFileTest, UnknownEntityReferencesInForeignContentSurvive) {
  WriteRaw(QByteArray(kCp1250Declaration) +
           R"(<xml><Note a="&custom;">&nbsp;x &amp; y</Note><ApnSettings apn="a&amp;b"/></xml>)");
  ExpectFields(Load(), {"a&b", "user", "40817"});
  SaveConfiguration(Path, {"a&b", "user", "40817"});
  EXPECT_TRUE(ReadRaw().contains(R"(<Note a="&custom;">&nbsp;x &amp; y</Note>)"))
      << ReadRaw().constData();
  ExpectFields(Load(), {"a&b", "user", "40817"});
}

// What we write we must read back: a declaration keeps no more than a
// declaration may hold.
TEST_F(SettingsFileTest, DeclarationIsWrittenWithVersionEncodingAndStandaloneOnly) {
  WriteRaw(R"(<?xml version="2" encoding="UTF-8" standalone="yes" x="1"?><xml/>)");
  SaveConfiguration(Path, kDefaults);
  EXPECT_TRUE(ReadRaw().startsWith(
      R"(<?xml version="1.0" encoding="windows-1250" standalone="yes"?>)"))
      << ReadRaw().constData();
  ExpectFields(Load(), kDefaults);
}

// The parser takes the declaration in any case; what we write and read
// back must agree, or the next start decodes the file differently.
TEST_F(SettingsFileTest, DeclarationInUpperCaseIsReadAndWrittenInLowerCase) {
  WriteRaw("<?XML version=\"1.0\" encoding=\"windows-1250\"?><xml><ApnSettings apn=\"\xC5\xA0\"/></xml>");
  // C5 A0 is "Ĺ" and a no-break space in windows-1250 (and "Š" in UTF-8).
  ExpectFields(Load(), {U("Ĺ\u00A0"), "user", "40817"});
  SaveConfiguration(Path, {U("x"), "user", "40817"});
  EXPECT_TRUE(ReadRaw().startsWith(kCp1250Declaration)) << ReadRaw().constData();
}

TEST_F(SettingsFileTest, CdataOutsideTheCodePageBecomesText) {
  WriteRaw(R"(<xml><Note><![CDATA[日本 <b>]]></Note></xml>)");
  SaveConfiguration(Path, kDefaults);
  const pugi::xml_document doc = Saved();
  const pugi::xml_node text = doc.document_element().child("Note").first_child();
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
        // Deep enough to overflow any matcher that recurses per character.
        TBadFile{"UnterminatedEncodingInTheDeclaration",
                 "<?xml version=\"1.0\" encoding=\"" + QByteArray(50000, 'w') + "?><xml/>",
                 "XML declaration not closed within the first 1024 bytes"},
        TBadFile{"UnterminatedValueInAShortDeclaration",
                 R"(<?xml version="1.0" encoding="windows-1250?><xml/>)",
                 "malformed XML declaration"},
        TBadFile{"DeclarationWithoutValues", R"(<?xml version encoding?><xml/>)",
                 "malformed XML declaration"},
        // XML forbids these in a comment; a writer would have to change them.
        TBadFile{"DoubleHyphenInAComment", "<xml><!-- a -- b --><ApnSettings/></xml>",
                 "a comment holds \"--\" or ends in \"-\" at offset 9"},
        TBadFile{"HyphenAtTheEndOfAComment", "<xml><ApnSettings/><!-- a ---></xml>",
                 "a comment holds \"--\" or ends in \"-\" at offset 23"},
        TBadFile{"CdataOutsideTheRoot", "<![CDATA[x]]><xml><ApnSettings/></xml>",
                 "a CDATA section stands outside the root element at offset 9"},
        TBadFile{"UnsupportedEncoding",
                 R"(<?xml version="1.0" encoding="koi8-r"?><xml/>)",
                 R"(unsupported encoding "koi8-r")"}),
    [](const auto& AInfo) { return std::string(AInfo.param.Label); });

// A file cut anywhere before the end of its root element is malformed: the
// load fails naming the file, and never takes half a document for settings.
TEST_F(SettingsFileTest, EveryTruncatedPrefixFailsNamingTheFile) {
  WriteRaw(R"(<xml><!-- c --><Other a="&amp;"/><![CDATA[x]]></xml>)");
  const TApnTexts fields{U("žluť 日本"), "", "x"};
  SaveConfiguration(Path, fields);
  const QByteArray full = ReadRaw();
  const qsizetype rootEnd = full.lastIndexOf("</xml>") + 6;
  ASSERT_GT(rootEnd, 6) << full.constData();
  for (qsizetype length = 0; length < rootEnd; ++length) {
    WriteRaw(full.left(length));
    try {
      Load();
      ADD_FAILURE() << "a prefix of " << length << " bytes loaded";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(Path.toStdString()), std::string::npos) << e.what();
    }
  }
  WriteRaw(full.left(rootEnd));
  ExpectFields(Load(), fields);
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

struct TReferenceCase {
  const char* Raw;
  const char* Text;
};
void PrintTo(const TReferenceCase& ACase, std::ostream* AOut) { *AOut << ACase.Raw; }

class XmlReferenceTest : public ::testing::TestWithParam<TReferenceCase> {};

TEST_P(XmlReferenceTest, RawValueReadsAsText) {
  EXPECT_EQ(XmlResolveReferences(GetParam().Raw), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, XmlReferenceTest,
    ::testing::Values(TReferenceCase{"a&lt;&gt;&amp;&quot;&apos;b", "a<>&\"'b"},
                      TReferenceCase{"&#65;&#x42;&#x10FFFF;", "AB\xF4\x8F\xBF\xBF"},
                      // Not references to a character XML allows: left as they stand.
                      TReferenceCase{"&#0;&#xD800;&#x110000;&#;&#x;&#12a;", "&#0;&#xD800;&#x110000;&#;&#x;&#12a;"},
                      TReferenceCase{"&nbsp;&custom; & &amp", "&nbsp;&custom; & &amp"},
                      TReferenceCase{"&#00000000000065;", "&#00000000000065;"}));

TEST(XmlEscape, EveryByteComesBackThroughAnAttributeOrText) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(XmlResolveReferences(XmlEscapeAttribute(all)), all);
  EXPECT_EQ(XmlResolveReferences(XmlEscapeText(all)), all);
  EXPECT_EQ(XmlEscapeAttribute("\t\n\"&<>"), "&#9;&#10;&quot;&amp;&lt;&gt;");
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
