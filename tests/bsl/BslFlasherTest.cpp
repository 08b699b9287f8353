// The image flasher: line classes acting on the device, callbacks, log
// lines, conversion errors and image files.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "BslTestBench.h"

using namespace bsltest;

namespace {

class BslFlasher : public ::testing::Test {
 protected:
  void SetUp() override {
    Board = std::make_shared<TRecorder>();
    Bench.Bus.Plug(Board);
    ASSERT_TRUE(Bench.Attach());
    Bench.Bsl.SetAnswerTimeoutMs(20);
    Bench.Bsl.SetOnProgress([this](int ACount, int ALine, const std::string& AMsg) {
      Progress.push_back({ACount, ALine});
      EXPECT_EQ(AMsg, "");
    });
    Bench.Bsl.SetOnSet([this](TBsl* ABsl) {
      ++SettingsCalls;
      EXPECT_EQ(ABsl, &Bench.Bsl);
    });
  }
  // Core packets written, in order.
  std::vector<std::vector<uint8_t>> Cores() {
    std::vector<std::vector<uint8_t>> cores;
    for (const auto& report : Board->Written())
      cores.emplace_back(report.begin() + 2, report.begin() + 2 + report[1]);
    return cores;
  }
  std::string FlashError(const std::vector<std::string>& ALines) {
    try {
      Bench.Bsl.FlashHex(ALines);
    } catch (const EConvertError& e) {
      return e.what();
    }
    return "(no error)";
  }

  TBench Bench;
  std::shared_ptr<TRecorder> Board;
  std::vector<std::pair<int, int>> Progress;
  int SettingsCalls = 0;
};

TEST_F(BslFlasher, FiveLineExampleImage) {
  EXPECT_TRUE(Bench.Bsl.FlashHex({"@5000", "31 40 00 44", "12 34", "SET", "q"}));
  EXPECT_EQ(Cores(), (std::vector<std::vector<uint8_t>>{{0x1B, 0x00, 0x50, 0x00, 0x31, 0x40, 0x00, 0x44},
                                                        {0x1B, 0x04, 0x50, 0x00, 0x12, 0x34}}));
  EXPECT_EQ(SettingsCalls, 1);
  EXPECT_EQ(Progress, (std::vector<std::pair<int, int>>{{5, 0}, {5, 1}, {5, 2}, {5, 3}, {5, 4}}));
  EXPECT_EQ(Bench.Texts(2), (std::vector<std::string>{"line:0: @5000", "line:1: 31 40 00 44",
                                                      "line:2: 12 34", "line:3: SET", "line:4: q"}));
  EXPECT_EQ(Bench.Texts(3), std::vector<std::string>{"Firmware update complete"});
  EXPECT_EQ(Bench.Texts(0), (std::vector<std::string>{"ADR: 00005000h, 4", "ADR: 00005004h, 2"}));
  // Each data line logs its address line and the transport's two lines.
  EXPECT_EQ(Bench.Log.size(), 5u + 1u + 2u * 3u);
}

TEST_F(BslFlasher, LinesAreTrimmedAndLoggedInGrey) {
  EXPECT_FALSE(Bench.Bsl.FlashHex({"  @4400\t", "", "\t"}));
  EXPECT_EQ(Bench.Texts(2), (std::vector<std::string>{"line:0: @4400", "line:1: ", "line:2: "}));
  for (const auto& line : Bench.Log) EXPECT_EQ(line.Color, 0x808080u);
}

TEST_F(BslFlasher, EndLineStopsEverything) {
  EXPECT_TRUE(Bench.Bsl.FlashHex({"@4400", "qwerty", "01 02", "@zz"}));
  EXPECT_TRUE(Board->Written().empty());
  EXPECT_EQ(Bench.Texts(2).size(), 2u) << "lines after the end line are not logged";
  EXPECT_EQ(Progress.size(), 2u);
}

TEST_F(BslFlasher, EndLineAloneWritesNothing) {
  EXPECT_TRUE(Bench.Bsl.FlashHex({"q"}));
  EXPECT_TRUE(Board->Written().empty());
  ASSERT_EQ(Bench.Log.size(), 2u);
  EXPECT_EQ(Bench.Log[0].Text, "line:0: q");
  EXPECT_EQ(Bench.Log[1].AType, mtMessage);
  EXPECT_EQ(Bench.Log[1].Color, 0u);
}

TEST_F(BslFlasher, UpperCaseQIsARefusedDataLine) {
  EXPECT_EQ(FlashError({"@2400", "Q", "q"}), "line 2: 'Q' is not a valid data line");
  EXPECT_TRUE(Board->Written().empty());
}

TEST_F(BslFlasher, DataBeforeAnyAddressGoesToZeroAndStartLineSetsTheAddress) {
  EXPECT_FALSE(Bench.Bsl.FlashHex({"01 02", "#2500", "03"}));
  EXPECT_EQ(Cores(), (std::vector<std::vector<uint8_t>>{{0x1B, 0x00, 0x00, 0x00, 0x01, 0x02},
                                                        {0x17, 0x04, 0x25, 0x00},
                                                        {0x1B, 0x00, 0x25, 0x00, 0x03}}));
}

TEST_F(BslFlasher, VersionLineReopensAndQueries) {
  ASSERT_TRUE(Bench.Device->OpenFile());
  EXPECT_FALSE(Bench.Bsl.FlashHex({"?anything"}));
  EXPECT_EQ(Cores(), std::vector<std::vector<uint8_t>>{{0x19}});
}

TEST_F(BslFlasher, SettingsLinesInAnyCaseWithoutCallbacksToo) {
  EXPECT_TRUE(Bench.Bsl.FlashHex({"SET", "Set", "q"}));
  EXPECT_EQ(SettingsCalls, 2);
  Bench.Bsl.SetOnSet(nullptr);
  Bench.Bsl.SetOnProgress(nullptr);
  EXPECT_TRUE(Bench.Bsl.FlashHex({"@4400", "set", "01", "q"}));
  EXPECT_EQ(Cores().size(), 1u);
}

struct TErrorCase {
  const char* Name;
  std::vector<std::string> Lines;
  const char* Message;
};

void PrintTo(const TErrorCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class BslFlasherError : public BslFlasher, public ::testing::WithParamInterface<TErrorCase> {};

// The line that cannot be read exactly sends nothing, and nothing after it
// is sent either: the error names the 1-based line.
TEST_P(BslFlasherError, StopsAtTheLineWithTheConvertedText) {
  EXPECT_EQ(FlashError(GetParam().Lines), GetParam().Message);
  // The line that failed was logged; nothing after it.
  EXPECT_EQ(Bench.Texts(2).size(), GetParam().Lines.size() - 1);
  for (const auto& core : Cores()) EXPECT_NE(core[0], 0x1B) << "no data was written";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BslFlasherError,
    ::testing::Values(
        TErrorCase{"SetX", {"SETX", "q"}, "line 1: 'SETX' is not a valid data line"},
        TErrorCase{"AtAlone", {"@", "q"}, "line 1: '$' is not a valid integer value"},
        TErrorCase{"HashAlone", {"#", "q"}, "line 1: '$' is not a valid integer value"},
        TErrorCase{"DoubleSpace", {"@4400", "0A  1B", "q"}, "line 2: '0A  1B' is not a valid data line"},
        TErrorCase{"TrailingDigit", {"@4400", "0A 1B 2", "q"}, "line 2: '0A 1B 2' is not a valid data line"},
        TErrorCase{"AddressTooWide", {"@100000000", "q"},
                   "line 1: '$100000000' is not a valid integer value"},
        TErrorCase{"AddressPast20Bits", {"@100000", "q"},
                   "line 1: address 00100000h is beyond the last address 000FFFFFh"},
        TErrorCase{"StartPast20Bits", {"#100000", "q"},
                   "line 1: address 00100000h is beyond the last address 000FFFFFh"},
        TErrorCase{"DataRunPast20Bits", {"@FFFFF", "01 02", "q"},
                   "line 2: data at 000FFFFFh run past the last address 000FFFFFh"}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(BslFlasher, LastAddressOfTheTwentyBitSpaceIsWritten) {
  EXPECT_TRUE(Bench.Bsl.FlashHex({"@FFFFF", "01", "q"}));
  EXPECT_EQ(Cores(), (std::vector<std::vector<uint8_t>>{{0x1B, 0xFF, 0xFF, 0x0F, 0x01}}));
}

// A data line without blanks used to go out as 31 00 44, and every later
// byte of its section one address too low.
TEST_F(BslFlasher, MissingSeparatorsAreNotSentAsShiftedBytes) {
  EXPECT_EQ(FlashError({"@4400", "12 34", "31400044", "56 78", "q"}),
            "line 3: '31400044' is not a valid data line");
  EXPECT_EQ(Cores(), (std::vector<std::vector<uint8_t>>{{0x1B, 0x00, 0x44, 0x00, 0x12, 0x34}}));
}

// "@1004400" used to be written at 0x004400 while the log showed the full
// address.
TEST_F(BslFlasher, AddressPastTwentyBitsIsNotTruncated) {
  EXPECT_EQ(FlashError({"@1004400", "01 02", "q"}),
            "line 1: address 01004400h is beyond the last address 000FFFFFh");
  EXPECT_TRUE(Board->Written().empty());
  EXPECT_TRUE(Bench.Texts(0).empty()) << "no ADR line for a write that did not happen";
}

TEST_F(BslFlasher, SettingsCallbackErrorsLeaveTheFlasher) {
  Bench.Bsl.SetOnSet([](TBsl*) { throw std::runtime_error("settings failed"); });
  EXPECT_THROW(Bench.Bsl.FlashHex({"SET", "q"}), std::runtime_error);
  EXPECT_TRUE(Bench.Texts(3).empty());
}

TEST(BslFlasherNoDevice, ReturnsAtOnce) {
  TBsl bsl;
  int lines = 0;
  bsl.SetOnProgress([&lines](int, int, const std::string&) { ++lines; });
  EXPECT_FALSE(bsl.FlashHex({"q"}));
  EXPECT_FALSE(bsl.FlashHex(nullptr));
  EXPECT_EQ(lines, 0);
}

class BslFlashFile : public BslFlasher {
 protected:
  std::string Write(const std::string& AName, const std::string& AContent) {
    const auto path = std::filesystem::path(::testing::TempDir()) / AName;
    std::ofstream(path, std::ios::binary) << AContent;
    Files.push_back(path);
    return path.string();
  }
  void TearDown() override {
    for (const auto& file : Files) std::filesystem::remove(file);
  }
  std::vector<std::filesystem::path> Files;
};

TEST_F(BslFlashFile, MissingOrEmptyFileLogsNothing) {
  EXPECT_FALSE(Bench.Bsl.FlashFile(::testing::TempDir() + "/no-such-image.txt"));
  EXPECT_FALSE(Bench.Bsl.FlashFile(::testing::TempDir()));  // a folder is no image
  EXPECT_FALSE(Bench.Bsl.FlashFile(Write("empty.txt", "")));
  EXPECT_TRUE(Bench.Log.empty());
}

TEST_F(BslFlashFile, AllLineEndsAndTheBeginAndEndLines) {
  const std::string name = Write("mixed.txt", "\xEF\xBB\xBF@4400\r\n01 02\r03\n\nq\n");
  EXPECT_TRUE(Bench.Bsl.FlashFile(name));
  EXPECT_EQ(Bench.Log.front().Text, "Begin flashing file \"" + name + "\".");
  EXPECT_EQ(Bench.Log.back().Text, "End flashing file \"" + name + "\".");
  EXPECT_EQ(Bench.Texts(2), (std::vector<std::string>{"line:0: @4400", "line:1: 01 02", "line:2: 03",
                                                      "line:3: ", "line:4: q"}));
  EXPECT_EQ(Cores(), (std::vector<std::vector<uint8_t>>{{0x1B, 0x00, 0x44, 0x00, 0x01, 0x02},
                                                        {0x1B, 0x02, 0x44, 0x00, 0x03}}));
  EXPECT_EQ(Progress.back(), (std::pair<int, int>{5, 4}));
}

TEST_F(BslFlashFile, ImageWithoutEndLineStillLogsTheEnd) {
  const std::string name = Write("noend.txt", "@4400\n01\n");
  EXPECT_FALSE(Bench.Bsl.FlashFile(name));
  EXPECT_EQ(Bench.Log.back().Text, "End flashing file \"" + name + "\".");
}

TEST_F(BslFlashFile, ConversionErrorSkipsTheEndLine) {
  const std::string name = Write("bad.txt", "@44G0\nq\n");
  EXPECT_THROW(Bench.Bsl.FlashFile(name), EConvertError);
  EXPECT_EQ(Bench.Texts(0), std::vector<std::string>{"Begin flashing file \"" + name + "\"."});
}

}  // namespace

namespace {

// A board that drops off the bus halfway: the writes after that fail, the
// rest of the image is still gone through, and the end line must not be
// taken for a complete update.
TEST_F(BslFlasher, FailedDataWritesMakeTheImageIncomplete) {
  Board->AcceptedBytes = 10;  // every report only partly written
  EXPECT_FALSE(Bench.Bsl.FlashHex({"@4400", "01 02", "03 04", "q"}));
  EXPECT_EQ(Bench.Texts(3), std::vector<std::string>{
                                "Firmware update incomplete: 2 lines were not written"});
  EXPECT_EQ(Board->Written().size(), 2u) << "the flasher goes on after a failed write";
}

TEST_F(BslFlasher, UnpluggedBoardFailsTheRemainingLines) {
  ASSERT_TRUE(Bench.Bsl.FlashHex({"@4400", "01 02", "q"})) << "the board works until unplugged";
  Bench.Bus.Unplug(Board.get());
  EXPECT_FALSE(Bench.Bsl.FlashHex({"@4400", "01 02", "SET", "q"}));
  const std::vector<std::string> ends = Bench.Texts(3);
  EXPECT_EQ(std::count(ends.begin(), ends.end(), "Firmware update complete"), 1)
      << "only the image written before the unplug is complete";
}

}  // namespace
