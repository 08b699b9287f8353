// Settings files read by kestrova-flash: the window's format and code page.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "CliSettings.h"
#include "CliTestImages.h"

using ::testing::HasSubstr;

TEST(CliSettings, DefaultsThenFileThenOptions) {
  clitest::TImageFolder folder;
  // windows-1250: 0xE4 is U+00E4; the login attribute is missing.
  folder.Write("s.xml", "<?xml version=\"1.0\" encoding=\"windows-1250\"?><xml><ApnSettings apn=\"m\xE4rz\" password=\"\"/></xml>");
  TCliOptions o;
  EXPECT_EQ(ResolveSettings(o), (update::TSettingsTexts{u"internet", u"user", u"40817"}));
  o.SettingsFile = folder.File("s.xml");
  EXPECT_EQ(ResolveSettings(o), (update::TSettingsTexts{u"m\u00E4rz", u"user", u""}));
  o.Password = "secret";
  EXPECT_EQ(ResolveSettings(o)[2], u"secret");
}

// Read as the window reads them: a file without a declaration in the code
// page the window writes (an older run's, or one made by hand), and the
// code page under its other names.
TEST(CliSettings, SettingsFilesInTheWindowsCodePageUnderAnyName) {
  clitest::TImageFolder folder;
  folder.Write("undeclared.xml", "<xml><ApnSettings apn=\"caf\xE9\"/></xml>");
  folder.Write("x-cp1250.xml",
               "<?xml version=\"1.0\" encoding=\"x-cp1250\"?><xml><ApnSettings apn=\"caf\xE9\"/></xml>");
  for (const char* name : {"undeclared.xml", "x-cp1250.xml"}) {
    TCliOptions o;
    o.SettingsFile = folder.File(name);
    EXPECT_EQ(ResolveSettings(o)[0], u"caf\u00E9") << name;
  }
}

TEST(CliSettings, BrokenSettingsFilesAreNamed) {
  clitest::TImageFolder folder;
  folder.Write("bad.xml", "<xml><ApnSettings apn=\"x\"></xml>");
  folder.Write("none.xml", "<xml><Other/></xml>");
  folder.Write("utf16.xml", "<?xml version=\"1.0\" encoding=\"utf-16\"?><xml/>");
  folder.Write("binary.xml", std::string("<xml>\0\x1b[2J", 10));
  folder.Write("image.xml", "@4400\n00 01\nq\n");
  // A text the board cannot store is the file's fault, at its line.
  folder.Write("latin2.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xml>\n<ApnSettings apn=\"\xC5\x81\xC3\xB3" "d\xC5\xBA\"/>\n</xml>\n");
  std::filesystem::create_directory(folder.File("folder.xml"));
  const std::pair<const char*, const char*> files[] = {
      {"bad.xml", "Start-end tags mismatch"},
      {"none.xml", "has no ApnSettings element"},
      {"utf16.xml", ""},
      {"missing.xml", "does not exist"},
      {"binary.xml", "binary data (a zero byte at offset 5)"},
      {"image.xml", "holds no XML element"},
      {"folder.xml", "cannot be read: Is a directory"},
      {"latin2.xml", "latin2.xml\", line 3, apn: the board stores only Latin-1 characters"},
  };
  for (const auto& [name, reason] : files) {
    TCliOptions o;
    o.SettingsFile = folder.File(name);
    try {
      ResolveSettings(o);
      ADD_FAILURE() << name << " accepted";
    } catch (const ECliUsage& e) {
      EXPECT_THAT(e.what(), HasSubstr(name));
      EXPECT_THAT(e.what(), HasSubstr(reason));
    }
  }
}
