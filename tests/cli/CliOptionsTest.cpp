// The command line and the settings texts of kestrova-flash.
#include <gmock/gmock.h>
#include <gtest/gtest.h>


#include "CliOptions.h"
#include "CliSettings.h"
#include "CliTestImages.h"
#include "ExitCodes.h"

using ::testing::HasSubstr;

namespace {

TCliOptions Parse(std::vector<std::string> AArgs) { return ParseCliOptions(AArgs); }

std::string UsageError(std::vector<std::string> AArgs) {
  try {
    Parse(std::move(AArgs));
  } catch (const ECliUsage& e) {
    return e.what();
  }
  return "accepted";
}

}  // namespace

TEST(CliOptions, DefaultsAreTheUsualImagesInTheCurrentFolder) {
  const TCliOptions o = Parse({});
  EXPECT_EQ(o.LoaderFile, "kestrova.1.ldr.txt");
  EXPECT_EQ(o.FirmwareFile, "kestrova.2.fw.txt");
  EXPECT_FALSE(o.Apn || o.Login || o.Password || o.SettingsFile || o.LogFile);
  EXPECT_FALSE(o.Quiet || o.List || o.Repeat || o.Fast || o.Help || o.Version);
}

TEST(CliOptions, ValuesFollowOrAreJoinedWithAnEqualsSign) {
  const TCliOptions o = Parse({"--loader", "a.txt", "--firmware=b.txt", "--apn", "web.example", "--login=",
                               "--password", "p w", "--log", "x.log", "--fast", "--repeat", "--quiet"});
  EXPECT_EQ(o.LoaderFile, "a.txt");
  EXPECT_EQ(o.FirmwareFile, "b.txt");
  EXPECT_EQ(o.Apn, "web.example");
  EXPECT_EQ(o.Login, "") << "an empty login is a value, not a missing one";
  EXPECT_EQ(o.Password, "p w");
  EXPECT_EQ(o.LogFile, "x.log");
  EXPECT_TRUE(o.Fast && o.Repeat && o.Quiet);
  const TCliOptions gang = Parse({"--gang", "--port", "1-1.2", "--port=1-1.3", "--record", "r.jsonl"});
  EXPECT_TRUE(gang.Gang);
  EXPECT_EQ(gang.Ports, (std::vector<std::string>{"1-1.2", "1-1.3"}));
  EXPECT_EQ(gang.RecordFile, "r.jsonl");
  EXPECT_TRUE(Parse({"-h"}).Help);
  EXPECT_TRUE(Parse({"--version"}).Version);
}

TEST(CliOptions, RefusesWhatItCannotUse) {
  EXPECT_THAT(UsageError({"--loader"}), HasSubstr("--loader needs a value"));
  EXPECT_THAT(UsageError({"--firmware="}), HasSubstr("--firmware needs a"));
  EXPECT_THAT(UsageError({"--log="}), HasSubstr("--log needs a value"));
  EXPECT_THAT(UsageError({"--fast=yes"}), HasSubstr("--fast takes no value"));
  EXPECT_THAT(UsageError({"--apn", "a", "--apn", "b"}), HasSubstr("--apn is given twice"));
  EXPECT_THAT(UsageError({"--fats"}), HasSubstr("unknown argument \"--fats\""));
  EXPECT_THAT(UsageError({"kestrova.2.fw.txt"}), HasSubstr("unknown argument"));
  EXPECT_THAT(UsageError({"--list", "--repeat"}), HasSubstr("--list only lists"));
  EXPECT_THAT(UsageError({"--list", "--gang"}), HasSubstr("--list only lists"));
  EXPECT_THAT(UsageError({"--port", ""}), HasSubstr("--port needs a port"));
  // A station file fixes what these options would set; each clash is named once.
  EXPECT_THAT(UsageError({"--station", "s.xml", "--fast", "--port", "1-1", "--port=1-2", "--loader=l.txt"}),
              HasSubstr("; leave out --fast, --port and --loader (or change the station file)"));
  EXPECT_THAT(UsageError({"--settings", "k.xml", "--station=s.xml"}), HasSubstr("leave out --settings "));
  EXPECT_THAT(UsageError({"--list", "--station", "s.xml"}), HasSubstr("--list only lists"));
  EXPECT_TRUE(Parse({"--station", "s.xml", "--repeat"}).Gang) << "a station serves every board at once";
  // A forgotten value: the next option is not taken for it.
  EXPECT_EQ(UsageError({"--apn", "--fast"}),
            "--apn needs a value, and \"--fast\" is an option (an empty text is given as --apn=)");
  EXPECT_EQ(UsageError({"--log", "--fast"}), "--log needs a value, and \"--fast\" is an option");
  EXPECT_EQ(Parse({"--apn=--odd"}).Apn, "--odd") << "joined with \"=\", any text is a value";
  // What the terminal would take for commands is shown, not sent to it.
  EXPECT_EQ(UsageError({"\x1b[2J\x07"}), "unknown argument \"\\x1B[2J\\x07\" (see --help)");
}

TEST(CliOptions, HelpListsEveryExitCode) {
  const std::string help = CliHelpText();
  for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 130})
    EXPECT_THAT(help, HasSubstr("\n  " + std::string(code < 10 ? "  " : code < 100 ? " " : "") +
                                std::to_string(code) + "  "))
        << code;
}

TEST(CliExitCodes, EveryOutcomeHasItsCode) {
  using update::TUpdateResult;
  const std::pair<TUpdateResult, int> rows[] = {
      {TUpdateResult::Success, 0},       {TUpdateResult::NotVerified, 12},  {TUpdateResult::Error, 1},
      {TUpdateResult::BadImage, 2},
      {TUpdateResult::NoBoard, 3},       {TUpdateResult::CannotOpen, 4},    {TUpdateResult::PasswordRefused, 5},
      {TUpdateResult::BoardNotBack, 6},  {TUpdateResult::WrongLoader, 6},   {TUpdateResult::WriteFailed, 7},
      {TUpdateResult::VerifyFailed, 8},  {TUpdateResult::NoAnswer, 10},     {TUpdateResult::BadAnswer, 10},
      {TUpdateResult::BoardLeft, 11},    {TUpdateResult::SeveralBoards, 13}, {TUpdateResult::Cancelled, 130}};
  for (const auto& [result, code] : rows) {
    update::TUpdateOutcome outcome;
    outcome.Result = result;
    EXPECT_EQ(static_cast<int>(ExitCodeOf(outcome)), code) << ResultName(result);
  }
  // Written in full reports and not verified: nothing confirms the firmware.
  update::TUpdateOutcome fast;
  fast.Result = TUpdateResult::NotVerified;
  fast.FullReports = true;
  EXPECT_EQ(ExitCodeOf(fast), TExitCode::VerifyFailed);
}

// ---- settings texts ----

TEST(CliSettings, TextsMustFitTheirRecordExactly) {
  TCliOptions o;
  o.Apn = std::string(40, 'a');
  EXPECT_EQ(ResolveSettings(o)[0].size(), 40u);
  o.Apn = std::string(41, 'a');
  EXPECT_THROW(ResolveSettings(o), ECliUsage);
  o.Apn.reset();
  o.Login = "\xC3\xA4";  // U+00E4: stored as 0xE4
  EXPECT_EQ(ResolveSettings(o)[1], u"\u00E4");
  o.Login = "\xC4\x8D";  // U+010D: the board would get 0x0D
  try {
    ResolveSettings(o);
    FAIL() << "accepted";
  } catch (const ECliUsage& e) {
    EXPECT_THAT(e.what(), HasSubstr("U+010D"));
  }
}
