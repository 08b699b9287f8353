// The image check: what a loader and an application image may hold, with
// rows on both sides of every limit, every truncated prefix of good images,
// the model of a checked image and the technician's text.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TiTxtFile.h"
#include "TiTxtImage.h"

namespace {

using TLines = std::vector<std::string>;
constexpr auto kLoader = TTiTxtImageKind::Loader;
constexpr auto kApp = TTiTxtImageKind::Application;

const TLines kGoodLoader = {"@2500", "00 11 22 33 44 55 66 77", "#2500", "q"};
const TLines kGoodApp = {"@4400", "31 40 00 44", "12 34", "@1800", "01 02", "SET", "q"};

// "line N: reason" of the refusal, or "(accepted)".
std::string Verdict(const TLines& ALines, TTiTxtImageKind AKind) {
  try {
    CheckTiTxtImage(ALines, AKind, "image.txt");
  } catch (const ETiTxtImageError& e) {
    EXPECT_EQ(e.FileName(), "image.txt");
    return "line " + std::to_string(e.Line()) + ": " + e.Reason();
  }
  return "(accepted)";
}

std::string Bytes(int ACount, const char* AByte = "00") {
  std::string line;
  for (int i = 0; i < ACount; ++i) line += (i ? " " : "") + std::string(AByte);
  return line;
}

struct TRuleCase {
  const char* Name;
  TTiTxtImageKind Kind;
  TLines Lines;
  std::string Verdict;
};

void PrintTo(const TRuleCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class TiTxtImageRule : public ::testing::TestWithParam<TRuleCase> {};

TEST_P(TiTxtImageRule, RefusesAtTheLineWithItsReason) {
  EXPECT_EQ(Verdict(GetParam().Lines, GetParam().Kind), GetParam().Verdict);
}

const std::string kAccepted = "(accepted)";
const std::string kOutsideApp =
    ", outside main flash (0x4400-0x243FF) and information memory (0x1800-0x19FF)";

INSTANTIATE_TEST_SUITE_P(
    DataLines, TiTxtImageRule,
    ::testing::Values(
        TRuleCase{"NoSeparators", kApp, {"@4400", "31400044", "q"},
                  "line 2: data line \"31400044\" is not hexadecimal byte pairs separated by blanks: no blank "
                  "after the byte at column 1"},
        TRuleCase{"Comma", kApp, {"@4400", "31,40", "q"},
                  "line 2: data line \"31,40\" is not hexadecimal byte pairs separated by blanks: \",\" at "
                  "column 3 stands where a blank belongs"},
        TRuleCase{"OddDigit", kApp, {"@4400", "31 4", "q"},
                  "line 2: data line \"31 4\" is not hexadecimal byte pairs separated by blanks: the byte at "
                  "column 4 has one digit"},
        TRuleCase{"TwoBlanks", kApp, {"@4400", "0A  1B", "q"},
                  "line 2: data line \"0A  1B\" is not hexadecimal byte pairs separated by blanks: two blanks at "
                  "column 3; one blank stands between two bytes"},
        TRuleCase{"UpperCaseQ", kApp, {"@4400", "00", "Q"},
                  "line 3: data line \"Q\" is not hexadecimal byte pairs separated by blanks: an end line is a "
                  "lower-case \"q\""},
        TRuleCase{"LongLineQuotedShort", kApp, {"@4400", Bytes(16, "0G"), "q"},
                  "line 2: data line \"0G 0G 0G 0G 0G 0G 0G 0G ...\" is not hexadecimal byte pairs "
                  "separated by blanks: \"G\" at column 2 is no hexadecimal digit"},
        TRuleCase{"ControlBytesEscaped", kApp, {"@4400", "00 \x1b[2J\x7f\xff", "q"},
                  "line 2: data line \"00 \\x1B[2J\\x7F\\xFF\" is not hexadecimal byte pairs separated by "
                  "blanks: the byte 1Bh at column 4 is no hexadecimal digit"},
        TRuleCase{"TabsAndBothCases", kApp, {"@4400", "0a\tFf", "q"}, kAccepted}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Addresses, TiTxtImageRule,
    ::testing::Values(
        TRuleCase{"AddressNotHex", kApp, {"@44G0", "q"},
                  "line 1: address \"@44G0\" is not a hexadecimal number"},
        TRuleCase{"AddressEmpty", kApp, {"@", "q"}, "line 1: address \"@\" is not a hexadecimal number"},
        TRuleCase{"StartNotHex", kLoader, {"@2500", Bytes(8), "#25X0", "q"},
                  "line 3: start address \"#25X0\" is not a hexadecimal number"},
        TRuleCase{"LastAddress", kApp, {"@FFFFF", "q"}, kAccepted},
        TRuleCase{"PastTwentyBits", kApp, {"@100000", "q"},
                  "line 1: address 0x100000 is beyond the last address 0xFFFFF"},
        TRuleCase{"KeptAs24Bits", kApp, {"@1004400", "01", "q"},
                  "line 1: address 0x1004400 is beyond the last address 0xFFFFF"},
        TRuleCase{"StartPastTwentyBits", kLoader, {"@2500", Bytes(8), "#100000", "q"},
                  "line 3: start address 0x100000 is beyond the last address 0xFFFFF"},
        TRuleCase{"DataRunPast", kApp, {"@FFFFF", "01 02", "q"},
                  "line 2: the data run past the last address 0xFFFFF"},
        TRuleCase{"DataAtTheLastAddress", kApp, {"@FFFFF", "01", "q"}, "line 2: writes to 0xFFFFF" + kOutsideApp}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Loader, TiTxtImageRule,
    ::testing::Values(
        TRuleCase{"Good", kLoader, kGoodLoader, kAccepted},
        TRuleCase{"BelowRam", kLoader, {"@23FF", Bytes(8), "#2400", "q"},
                  "line 2: the loader writes to 0x23FF, outside RAM (0x2400-0x43FF)"},
        TRuleCase{"FirstRamByte", kLoader, {"@2400", Bytes(8), "#2400", "q"}, kAccepted},
        TRuleCase{"LastRamByte", kLoader, {"@43F8", Bytes(8), "#43F8", "q"}, kAccepted},
        TRuleCase{"PastRam", kLoader, {"@43F9", Bytes(8), "#43F9", "q"},
                  "line 2: the loader writes to 0x4400, outside RAM (0x2400-0x43FF)"},
        TRuleCase{"InFlash", kLoader, {"@4400", Bytes(8), "#4400", "q"},
                  "line 2: the loader writes to 0x4400, outside RAM (0x2400-0x43FF)"},
        TRuleCase{"NoStartLine", kLoader, {"@2500", Bytes(8), "q"},
                  "line 3: the loader has no start line (\"#\")"},
        TRuleCase{"StartAfterData", kLoader, {"@2500", Bytes(8), "#2600", "q"},
                  "line 3: the start address 0x2600 lies outside the loader's data"},
        TRuleCase{"StartBeforeData", kLoader, {"@2500", Bytes(8), "#24FF", "q"},
                  "line 3: the start address 0x24FF lies outside the loader's data"},
        TRuleCase{"EntryOnTheLastByte", kLoader, {"@2500", Bytes(8), "#2503", "q"}, kAccepted},
        TRuleCase{"EntryPastTheData", kLoader, {"@2500", Bytes(8), "#2504", "q"},
                  "line 3: the loader's code at 0x2508 (start address + 4) lies outside its data"},
        TRuleCase{"DataBelowTheStart", kLoader, {"@2400", Bytes(16), "@2410", Bytes(16), "#2410", "q"},
                  kAccepted},
        TRuleCase{"DataAfterTheStart", kLoader, {"@2500", Bytes(8), "#2500", "00", "q"},
                  "line 4: data after the start line would never reach the board"},
        TRuleCase{"SameRamTwice", kLoader, {"@2500", Bytes(8), "@2500", "AA", "#2500", "q"}, kAccepted}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Application, TiTxtImageRule,
    ::testing::Values(
        TRuleCase{"Good", kApp, kGoodApp, kAccepted},
        TRuleCase{"BelowMainFlash", kApp, {"@43FF", "00", "q"}, "line 2: writes to 0x43FF" + kOutsideApp},
        TRuleCase{"FirstMainByte", kApp, {"@4400", "00", "q"}, kAccepted},
        TRuleCase{"LastMainByte", kApp, {"@243FF", "00", "q"}, kAccepted},
        TRuleCase{"PastMainFlash", kApp, {"@243FF", "00 01", "q"}, "line 2: writes to 0x24400" + kOutsideApp},
        TRuleCase{"BelowInfo", kApp, {"@17FF", "00", "q"}, "line 2: writes to 0x17FF" + kOutsideApp},
        TRuleCase{"FirstInfoByte", kApp, {"@1800", "00", "q"}, kAccepted},
        TRuleCase{"LastInfoByte", kApp, {"@19FF", "00", "q"}, kAccepted},
        TRuleCase{"PastInfo", kApp, {"@19FF", "00 01", "q"}, "line 2: writes to 0x1A00" + kOutsideApp},
        TRuleCase{"Ram", kApp, {"@2400", "00", "q"}, "line 2: writes to 0x2400" + kOutsideApp},
        TRuleCase{"DataBeforeAnyAddress", kApp, {"00", "q"}, "line 1: writes to 0x0" + kOutsideApp},
        TRuleCase{"Adjacent", kApp, {"@4400", "00 01", "@4402", "02", "q"}, kAccepted},
        TRuleCase{"OverlapAtTheEnd", kApp, {"@4400", "00 01", "@4401", "02", "q"},
                  "line 4: writes 0x4401 a second time (first at line 2)"},
        TRuleCase{"OverlapAtTheStart", kApp, {"@4402", "02", "@4400", "00 01 02", "q"},
                  "line 4: writes 0x4402 a second time (first at line 2)"},
        TRuleCase{"SameLineTwice", kApp, {"@4400", "00", "@4400", "00", "q"},
                  "line 4: writes 0x4400 a second time (first at line 2)"},
        TRuleCase{"ErasedSettings", kApp, {"@FE00", Bytes(41, "FF"), Bytes(41, "FF"), Bytes(41, "FF"), "q"},
                  kAccepted},
        TRuleCase{"BeforeSettings", kApp, {"@FDFF", "00 FF", "q"}, kAccepted},
        TRuleCase{"FirstSettingsByte", kApp, {"@FDFF", "00 00", "q"},
                  "line 2: writes into the settings records at 0xFE00 (only FF is allowed at "
                  "0xFE00-0xFE7A)"},
        TRuleCase{"LastSettingsByte", kApp, {"@FE7A", "00", "q"},
                  "line 2: writes into the settings records at 0xFE7A (only FF is allowed at "
                  "0xFE00-0xFE7A)"},
        TRuleCase{"AfterSettings", kApp, {"@FE7B", "00", "q"}, kAccepted}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    EndLine, TiTxtImageRule,
    ::testing::Values(TRuleCase{"Missing", kApp, {"@4400", "00", ""},
                                "line 3: the file ends without the end line \"q\""},
                      TRuleCase{"Empty", kApp, {}, "line 0: the file is empty"},
                      TRuleCase{"OnlyBlankLines", kLoader, {"", " "},
                                "line 2: the file ends without the end line \"q\""},
                      TRuleCase{"QWithText", kApp, {"@4400", "00", "quit"}, kAccepted},
                      TRuleCase{"NothingAfterTheEndIsRead", kApp, {"q", "@zz", "31400044"}, kAccepted}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// RAM written twice: the loader may, but no more than the board holds.
TEST(TiTxtImageSize, LoaderRewritingRamStopsAtTheBoardsCapacity) {
  TLines lines = {"@2400"};
  for (int i = 0; i < 0x2000 / 16; ++i) lines.push_back(Bytes(16));
  lines.push_back("#2400");
  TLines full = lines;
  full.push_back("q");
  EXPECT_EQ(Verdict(full, kLoader), kAccepted) << "all of RAM once";
  lines.insert(lines.end() - 1, {"@2400", "00"});
  lines.push_back("q");
  EXPECT_EQ(Verdict(lines, kLoader),
            "line 515: the image holds more data than the board can take (8192 bytes)");
}

// Every cut of a good image, at every character, is refused: none passes
// with fewer bytes than the whole.
TEST(TiTxtImageTruncated, EveryPrefixOfAGoodImageIsRefused) {
  for (const auto& [kind, lines] : {std::pair{kLoader, kGoodLoader}, std::pair{kApp, kGoodApp}}) {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    const size_t full = CheckTiTxtImage(lines, kind, "image.txt").DataSize();
    for (size_t length = 0; length < text.size(); ++length) {
      const std::string prefix = text.substr(0, length);
      const bool complete = prefix.find("\nq") != std::string::npos;
      try {
        const TTiTxtImage image = CheckTiTxtImage(SplitTiTxtLines(prefix), kind, "image.txt");
        EXPECT_TRUE(complete) << "accepted a cut after " << length << " characters";
        EXPECT_EQ(image.DataSize(), full);
      } catch (const ETiTxtImageError& e) {
        EXPECT_FALSE(complete) << e.what();
        EXPECT_LE(e.Line(), static_cast<int>(SplitTiTxtLines(prefix).size()));
      }
    }
  }
}

TEST(TiTxtImageModel, SectionsMarksLinesAndRanges) {
  const TTiTxtImage image = CheckTiTxtImage(
      {"@4400", "31 40", "", "00 44", "SET", "12", "@4405", "AB", "@1800", "01", "?", "q"}, kApp, "a.txt");
  ASSERT_EQ(image.Sections.size(), 3u);
  EXPECT_EQ(image.Sections[0].Address, 0x4400u);
  EXPECT_EQ(image.Sections[0].Bytes, (std::vector<uint8_t>{0x31, 0x40, 0x00, 0x44, 0x12}));
  EXPECT_EQ(image.Sections[0].LineOf(0x4401), 2);
  EXPECT_EQ(image.Sections[0].LineOf(0x4402), 4);
  EXPECT_EQ(image.Sections[0].LineOf(0x4404), 6);
  EXPECT_EQ(image.Sections[0].LineOf(0x4405), 0);
  EXPECT_EQ(image.DataSize(), 7u);
  ASSERT_EQ(image.Marks.size(), 3u);
  EXPECT_EQ(image.Marks[0].Kind, TTiTxtLineKind::Settings);
  EXPECT_EQ(image.Marks[0].Line, 5);
  EXPECT_EQ(image.Marks[0].Address, 0x4404u) << "where the flasher stands at the mark";
  EXPECT_EQ(image.Marks[1].Kind, TTiTxtLineKind::Version);
  EXPECT_EQ(image.Marks[2].Kind, TTiTxtLineKind::End);
  EXPECT_EQ(image.EndLine, 12);
  EXPECT_EQ(image.LineCount, 12);
  // What the flasher does, line by line: data with their bytes, and marks.
  std::vector<std::string> steps;
  for (const TTiTxtStep& step : image.Steps()) {
    std::string text = std::to_string(step.Line) + "@" + std::to_string(step.Address);
    for (uint32_t i = 0; i < step.Count; ++i) text += " " + std::to_string(step.Bytes[i]);
    steps.push_back(text);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"2@17408 49 64", "4@17410 0 68", "5@17412", "6@17412 18",
                                             "8@17413 171", "10@6144 1", "11@6145", "12@6145"}));
  const auto ranges = image.Ranges();
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0].Address, 0x1800u);
  EXPECT_EQ(ranges[1].Address, 0x4400u);
  EXPECT_EQ(ranges[1].Bytes, (std::vector<uint8_t>{0x31, 0x40, 0x00, 0x44, 0x12, 0xAB}))
      << "adjacent sections are one range";
}

TEST(TiTxtImageModel, LoaderStartLineAndLastWriteWins) {
  const TTiTxtImage image =
      CheckTiTxtImage({"@2500", "00 11 22 33 44 55 66 77", "@2501", "AA", "#2500", "q"}, kLoader, "l.txt");
  EXPECT_EQ(image.StartLine, 5);
  EXPECT_EQ(image.StartAddress, 0x2500u);
  const auto ranges = image.Ranges();
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].Bytes, (std::vector<uint8_t>{0x00, 0xAA, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));
}

TEST(TiTxtImageText, NamesTheFileTheLineTheReasonAndThatNothingChanged) {
  EXPECT_EQ(ImageRefusalText(ETiTxtImageError("C:/fw/kestrova.2.fw.txt", 12, "the data run past the last address 0xFFFFF")),
            "The image file \"C:/fw/kestrova.2.fw.txt\" cannot be used.\n"
            "Line 12: the data run past the last address 0xFFFFF.\n"
            "The board was not changed.");
  EXPECT_EQ(ImageRefusalText(ETiTxtImageError("x.txt", 0, "the file is empty")),
            "The image file \"x.txt\" cannot be used.\nThe file is empty.\nThe board was not changed.");
  EXPECT_STREQ(ETiTxtImageError("x.txt", 3, "why").what(), "\"x.txt\", line 3: why");
}

class TiTxtImageFile : public ::testing::Test {
 protected:
  std::string Path(const std::string& AName) {
    const auto path = std::filesystem::path(::testing::TempDir()) / AName;
    Files.push_back(path);
    return path.string();
  }
  std::string Write(const std::string& AName, const std::string& AContent) {
    const std::string path = Path(AName);
    std::ofstream(path, std::ios::binary) << AContent;
    return path;
  }
  void TearDown() override {
    for (const auto& file : Files) std::filesystem::remove(file);
  }
  static std::string Refusal(const std::string& AFile) {
    try {
      ReadTiTxtImage(AFile, kApp);
    } catch (const ETiTxtImageError& e) {
      return std::to_string(e.Line()) + ": " + e.Reason();
    }
    return "(accepted)";
  }
  std::vector<std::filesystem::path> Files;
};

TEST_F(TiTxtImageFile, ReadsWithEveryLineEndAndAByteOrderMark) {
  const std::string name = Write("good.txt", "\xEF\xBB\xBF@4400\r\n01 02\r03\n\nq\n");
  const TTiTxtImage image = ReadTiTxtImage(name, kApp);
  EXPECT_EQ(image.FileName, name);
  EXPECT_EQ(image.DataSize(), 3u);
  EXPECT_EQ(image.EndLine, 5);
}

TEST_F(TiTxtImageFile, MissingEmptyFolderBinaryAndHugeFilesAreRefusedAsAWhole) {
  EXPECT_EQ(Refusal(Path("missing.txt")), "0: the file does not exist");
  EXPECT_EQ(Refusal(::testing::TempDir()), "0: the file cannot be read: Is a directory");
  EXPECT_EQ(Refusal(Write("empty.txt", "")), "0: the file is empty");
  EXPECT_EQ(Refusal(Write("binary.bin", std::string("@4400\n\x1b[2J\0\x01", 12))),
            "0: the file holds binary data (a zero byte at offset 10), not TI-TXT text");
  const std::string huge = Write("huge.txt", "@4400\n");
  std::filesystem::resize_file(huge, kTiTxtMaxFileSize + 1);  // sparse: costs no disk
  EXPECT_EQ(Refusal(huge), "0: the file is too large for an image (" +
                               std::to_string(kTiTxtMaxFileSize + 1) + " bytes)");
}

}  // namespace
