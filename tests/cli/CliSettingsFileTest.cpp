// Settings files read by kestrova-flash: the window's format and code page.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
  for (const char* name : {"bad.xml", "none.xml", "utf16.xml", "missing.xml"}) {
    TCliOptions o;
    o.SettingsFile = folder.File(name);
    try {
      ResolveSettings(o);
      ADD_FAILURE() << name << " accepted";
    } catch (const ECliUsage& e) {
      EXPECT_THAT(e.what(), HasSubstr(name));
    }
  }
}
