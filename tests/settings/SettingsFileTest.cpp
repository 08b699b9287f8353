#include "SettingsFile.h"
#include "StationConfig.h"
#include "StationFiles.h"
#include "XmlText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const TApnTexts kDefaults{"internet", "user", "40817"};
const char kCp1250Declaration[] = R"(<?xml version="1.0" encoding="windows-1250"?>)";

// A fresh folder, removed at the end.
class TScratchFolder {
 public:
  TScratchFolder() {
    static int counter = 0;
    FPath = std::filesystem::temp_directory_path() /
            ("kestrova-settings-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(FPath);
  }
  ~TScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  std::string filePath(const std::string& AName) const { return (FPath / AName).string(); }

 private:
  std::filesystem::path FPath;
};

void WriteFile(const std::string& APath, const std::string& ABytes) {
  std::ofstream file(APath, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(file << ABytes);
}

std::string ReadFile(const std::string& APath) {
  std::ifstream file(APath, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

class SettingsFileTest : public ::testing::Test {
 protected:
  TScratchFolder Dir;
  std::string Path = Dir.filePath("KestrovaSetup.xml");

  void WriteRaw(const std::string& ABytes) { WriteFile(Path, ABytes); }
  std::string ReadRaw() const { return ReadFile(Path); }
  TApnTexts Load() const {
    TApnTexts fields = kDefaults;
    LoadConfiguration(Path, fields);
    return fields;
  }
  // The saved file parsed back as windows-1250 text, for checks of its structure.
  pugi::xml_document Saved() const {
    pugi::xml_document doc;
    const std::string bytes = ReadRaw();
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
  EXPECT_THAT(ReadRaw(), StartsWith(kCp1250Declaration));
  const pugi::xml_document doc = Saved();
  EXPECT_STREQ(doc.document_element().name(), "xml");
  EXPECT_EQ(ChildNames(doc.document_element()), std::vector<std::string>{"ApnSettings"});
  const pugi::xml_node node = doc.document_element().child("ApnSettings");
  EXPECT_EQ(AttributeNames(node), (std::vector<std::string>{"apn", "login", "password"}));
  ExpectFields(Load(), kDefaults);
}

TEST_F(SettingsFileTest, MissingAttributesKeepTheirDefaultsAndAreAddedAtSave) {
  WriteRaw(kCp1250Declaration + std::string(R"(<xml><ApnSettings apn="gprs.cz"/></xml>)"));
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
        TRoundTrip{"Czech", {"ěščřžýáíé", "ĚŠČŘŽÝÁÍÉ", "ůú€"}},
        TRoundTrip{"OutsideTheCodePage", {"日本", "Ωmega 😀", "Ā"}},
        TRoundTrip{"Whitespace", {"  lead", "tab\there", "line\nbreak"}}),
    [](const auto& AInfo) { return std::string(AInfo.param.Label); });

TEST_F(SettingsFileTest, CzechTextIsStoredAsWindows1250Bytes) {
  SaveConfiguration(Path, {"ěščřžýáíé", "l", "p"});
  EXPECT_THAT(ReadRaw(), HasSubstr("apn=\"\xEC\x9A\xE8\xF8\x9E\xFD\xE1\xED\xE9\""));
}

TEST_F(SettingsFileTest, CharactersOutsideTheCodePageAreWrittenAsReferences) {
  SaveConfiguration(Path, {"日本", "l", "p"});
  EXPECT_THAT(ReadRaw(), HasSubstr(R"(apn="&#26085;&#26412;")"));
}

TEST_F(SettingsFileTest, Utf8FileIsReadAndRewrittenAsWindows1250) {
  WriteRaw(R"(<?xml version="1.0" encoding="UTF-8"?><xml><ApnSettings apn="čau"/></xml>)");
  ExpectFields(Load(), {"čau", "user", "40817"});
  SaveConfiguration(Path, {"čau", "l", "p"});
  EXPECT_THAT(ReadRaw(), StartsWith(kCp1250Declaration));
  EXPECT_THAT(ReadRaw(), HasSubstr("apn=\"\xE8" "au\""));
}

// Older or hand-edited files are in the code page the application writes,
// but say nothing about it.
TEST_F(SettingsFileTest, UndeclaredWindows1250FileIsReadAndSavedIntact) {
  WriteRaw("<xml><Town name=\"\x8Aumperk\">\x8E" "atec</Town><ApnSettings apn=\"\x8Aumperk\"/></xml>");
  ExpectFields(Load(), {"Šumperk", "user", "40817"});
  SaveConfiguration(Path, {"Šumperk", "user", "40817"});
  const std::string saved = ReadRaw();
  EXPECT_THAT(saved, HasSubstr("apn=\"\x8Aumperk\""));
  EXPECT_THAT(saved, HasSubstr("<Town name=\"\x8Aumperk\">\x8E" "atec</Town>"));
  ExpectFields(Load(), {"Šumperk", "user", "40817"});
}

TEST_F(SettingsFileTest, FileDeclaredUtf8ButNotUtf8IsReadAsWindows1250) {
  WriteRaw("<?xml version=\"1.0\" encoding=\"utf-8\"?><xml><ApnSettings apn=\"\x8Aumperk\"/></xml>");
  ExpectFields(Load(), {"Šumperk", "user", "40817"});
}

TEST_F(SettingsFileTest, UndeclaredUtf8FileStaysUtf8) {
  WriteRaw("<xml><ApnSettings apn=\"\xC5\xA0umperk\"/></xml>");
  ExpectFields(Load(), {"Šumperk", "user", "40817"});
}

TEST_F(SettingsFileTest, UnknownEntityReferencesInForeignContentSurvive) {
  WriteRaw(kCp1250Declaration +
           std::string(R"(<xml><Note a="&custom;">&nbsp;x &amp; y</Note><ApnSettings apn="a&amp;b"/></xml>)"));
  ExpectFields(Load(), {"a&b", "user", "40817"});
  SaveConfiguration(Path, {"a&b", "user", "40817"});
  EXPECT_THAT(ReadRaw(), HasSubstr(R"(<Note a="&custom;">&nbsp;x &amp; y</Note>)"));
  ExpectFields(Load(), {"a&b", "user", "40817"});
}

// What we write we must read back: a declaration keeps no more than a
// declaration may hold.
TEST_F(SettingsFileTest, DeclarationIsWrittenWithVersionEncodingAndStandaloneOnly) {
  WriteRaw(R"(<?xml version="2" encoding="UTF-8" standalone="yes" x="1"?><xml/>)");
  SaveConfiguration(Path, kDefaults);
  EXPECT_THAT(ReadRaw(), StartsWith(R"(<?xml version="1.0" encoding="windows-1250" standalone="yes"?>)"));
  ExpectFields(Load(), kDefaults);
}

// The parser takes the declaration in any case; what we write and read
// back must agree, or the next start decodes the file differently.
TEST_F(SettingsFileTest, DeclarationInUpperCaseIsReadAndWrittenInLowerCase) {
  WriteRaw("<?XML version=\"1.0\" encoding=\"windows-1250\"?><xml><ApnSettings apn=\"\xC5\xA0\"/></xml>");
  // C5 A0 is "Ĺ" and a no-break space in windows-1250 (and "Š" in UTF-8).
  ExpectFields(Load(), {"Ĺ\u00A0", "user", "40817"});
  SaveConfiguration(Path, {"x", "user", "40817"});
  EXPECT_THAT(ReadRaw(), StartsWith(kCp1250Declaration));
}

TEST_F(SettingsFileTest, CdataOutsideTheCodePageBecomesText) {
  WriteRaw(R"(<xml><Note><![CDATA[日本 <b>]]></Note></xml>)");
  SaveConfiguration(Path, kDefaults);
  const pugi::xml_document doc = Saved();
  const pugi::xml_node text = doc.document_element().child("Note").first_child();
  EXPECT_EQ(text.type(), pugi::node_pcdata);
  EXPECT_STREQ(text.value(), "日本 <b>");
  EXPECT_THAT(ReadRaw(), HasSubstr("&#26085;&#26412;"));
}

TEST_F(SettingsFileTest, CommentOutsideTheCodePageFailsTheSaveAndKeepsTheFile) {
  const std::string original = R"(<xml><!-- 日本 --></xml>)";
  WriteRaw(original);
  try {
    SaveConfiguration(Path, kDefaults);
    FAIL() << "a comment cannot hold character references";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr(Path));
    EXPECT_THAT(e.what(), HasSubstr("U+65E5"));
  }
  EXPECT_EQ(ReadRaw(), original);
}

struct TBadFile {
  const char* Label;
  std::string Content;
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
      EXPECT_THAT(message, HasSubstr(Path));
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
        TBadFile{"Empty", "", "the file holds no XML element"},
        TBadFile{"Binary", std::string("<xml>\0\x01", 7), "the file holds binary data (a zero byte at offset 5), not XML"},
        // The offset counts bytes of the file, not of its decoded text.
        TBadFile{"OffsetInWindows1250Bytes",
                 kCp1250Declaration + std::string("<a b=\"\xE8\xE8\xE8\"/><"),
                 "at offset " + std::to_string(sizeof kCp1250Declaration - 1 + 12)},
        // Deep enough to overflow any matcher that recurses per character.
        TBadFile{"UnterminatedEncodingInTheDeclaration",
                 "<?xml version=\"1.0\" encoding=\"" + std::string(50000, 'w') + "?><xml/>",
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
  const TApnTexts fields{"žluť 日本", "", "x"};
  SaveConfiguration(Path, fields);
  const std::string full = ReadRaw();
  const size_t rootEnd = full.rfind("</xml>") + 6;
  ASSERT_GT(rootEnd, 6u) << full;
  for (size_t length = 0; length < rootEnd; ++length) {
    WriteRaw(full.substr(0, length));
    try {
      Load();
      ADD_FAILURE() << "a prefix of " << length << " bytes loaded";
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), HasSubstr(Path));
    }
  }
  WriteRaw(full.substr(0, rootEnd));
  ExpectFields(Load(), fields);
}

TEST_F(SettingsFileTest, UnwritableFileFailsNamingThePath) {
  // A path below a plain file cannot be created, also for root.
  WriteFile(Dir.filePath("blocker"), "");
  const std::string path = Dir.filePath("blocker/KestrovaSetup.xml");
  try {
    SaveConfiguration(path, kDefaults);
    FAIL() << "the save must fail";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("Cannot save \"" + path + "\": "));
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
  std::string Application;
  std::string Settings;
};

class SettingsPathTest : public ::testing::TestWithParam<TPathCase> {};

TEST_P(SettingsPathTest, ExtensionIsReplacedByXml) {
  EXPECT_EQ(station::SettingsFileFor(GetParam().Application), GetParam().Settings);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SettingsPathTest,
    ::testing::Values(TPathCase{"C:/Tools/KestrovaSetup.exe", "C:/Tools/KestrovaSetup.xml"},
                      TPathCase{"/opt/kestrova/KestrovaSetup", "/opt/kestrova/KestrovaSetup.xml"},
                      TPathCase{"/opt/k.1/KestrovaSetup", "/opt/k.1/KestrovaSetup.xml"},
                      TPathCase{"/opt/Kestrova.v2.exe", "/opt/Kestrova.v2.xml"}));

}  // namespace

// ---- the station file ----

namespace {

const char kStation[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<station name="Bench A" serial="required">
  <loader file="kestrova.1.ldr.txt" sha256="362E5877c2a398ef1837e6fae5aa22470f49164d6faa3b6b4047143fca729e1b"/>
  <firmware file="/opt/fw/kestrova.2.fw.txt" sha256="93a9b29e6e61120252988269f5ceb10b565d4e133d4ab38bc2a61a4f3bf30864"/>
  <settings apn="caf&#233;" login="" password="40817"/>
  <ports>
    <port path="1-1.2" label="Slot 1"/>
    <port path="1-1.1" label="Slot 2"/>
  </ports>
  <record file="records.jsonl"/>
</station>
)";

std::string Replaced(std::string AText, const std::string& AFrom, const std::string& ATo) {
  const size_t at = AText.find(AFrom);
  EXPECT_NE(at, std::string::npos) << AFrom;
  if (at != std::string::npos) AText.replace(at, AFrom.size(), ATo);
  return AText;
}

}  // namespace

TEST(StationConfig, ReadsEveryPartWithPathsBesideTheFile) {
  TScratchFolder folder;
  const std::string file = folder.filePath("Jiří Šumperk.xml");
  std::ofstream(std::filesystem::u8path(file), std::ios::binary) << kStation;
  const TStationConfig c = LoadStationConfig(std::filesystem::u8path(file));
  EXPECT_EQ(c.Name, "Bench A");
  EXPECT_EQ(c.Loader.File, std::filesystem::u8path(folder.filePath("kestrova.1.ldr.txt")));
  EXPECT_EQ(c.Loader.Sha256.substr(0, 4), "362e") << "checksums are compared in lower case";
  EXPECT_EQ(c.Firmware.File, std::filesystem::path("/opt/fw/kestrova.2.fw.txt"));
  EXPECT_EQ(c.Apn, "caf\xC3\xA9");
  EXPECT_EQ(c.Login, "");
  EXPECT_EQ(c.SettingsLine, 5);
  ASSERT_EQ(c.Ports.size(), 2u);
  EXPECT_EQ(c.Ports[0].Path + " " + c.Ports[0].Label, "1-1.2 Slot 1") << "in the file's order";
  EXPECT_EQ(c.RecordFile, std::filesystem::u8path(folder.filePath("records.jsonl")));
  EXPECT_TRUE(c.SerialRequired);
  EXPECT_TRUE(c.Fast) << "fast writes unless the file says otherwise";
}

TEST(StationConfig, EachErrorNamesItsLine) {
  const struct {
    const char* From;
    const char* To;
    int Line;  // 0: none named
    const char* Says;
  } rows[] = {
      {"<record file=\"records.jsonl\"/>", "<record file=\"records.jsonl\">", 11, "malformed XML"},
      {"sha256=\"93a9b", "sha256=\"93a9", 4, "64 hexadecimal digits"},
      {"sha256=\"93a9b", "sha-256=\"93a9b", 4, "takes no attribute \"sha-256\""},
      {"serial=\"required\"", "serial=\"yes\"", 2, "must be \"required\" or \"none\""},
      {"serial=\"required\"", "fast=\"on\"", 2, "must be \"yes\" or \"no\""},
      {"name=\"Bench A\"", "name=\"\"", 2, "empty name"},
      {" login=\"\"", "", 5, "needs login="},
      {"    <port path=\"1-1.1\"", "    <port path=\"1-1.2\"", 8, "port 1-1.2 is listed twice"},
      {"label=\"Slot 2\"", "label=\"Slot 1\"", 8, "\"Slot 1\" is given to two ports"},
      {"  <record file=\"records.jsonl\"/>\n", "", 2, "no <record> element"},
      {"  <ports>", "  <record file=\"b\"/><ports>", 10, "a second <record>"},
      {"<port path=\"1-1.2\" label=\"Slot 1\"/>", "<slot path=\"1-1.2\"/>", 7, "<slot> does not belong in <ports>"},
      {"<ports>\n    <port path=\"1-1.2\" label=\"Slot 1\"/>\n    <port path=\"1-1.1\" label=\"Slot 2\"/>\n  </ports>",
       "<ports/>", 6, "lists no <port>"},
      {"Bench A", "Bench \xC8", 2, "not UTF-8"},
  };
  TScratchFolder folder;
  const std::string file = folder.filePath("station.xml");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.To);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << Replaced(kStation, row.From, row.To);
    try {
      LoadStationConfig(file);
      ADD_FAILURE() << "accepted";
    } catch (const EStationConfig& e) {
      EXPECT_THAT(e.what(), StartsWith("station file \"" + file + "\", line " + std::to_string(row.Line) + ": "));
      EXPECT_THAT(e.what(), HasSubstr(row.Says));
    }
  }
  // A file cut anywhere is refused as a station file, never taken in part.
  const std::string whole = kStation;
  for (size_t length = 0; length < whole.rfind("</station>") + 9; ++length) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << whole.substr(0, length);
    EXPECT_THROW(LoadStationConfig(file), EStationConfig) << length;
  }
}
