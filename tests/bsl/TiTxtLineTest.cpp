// Trimming, hexadecimal conversion and data-line bytes of image lines.
#include <gtest/gtest.h>

#include "TiTxtLine.h"

namespace {

std::string ConversionError(const std::string& AText) {
  try {
    HexToInt(AText);
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "(converted)";
}

TEST(TiTxtLine, TrimRemovesBlanksAndControlCharactersAtBothEnds) {
  EXPECT_EQ(TrimLine("\t 12 34 \r\n"), "12 34");
  EXPECT_EQ(TrimLine(" \x01\x1F "), "");
  EXPECT_EQ(TrimLine("12  34"), "12  34");
}

TEST(TiTxtLine, HexToIntAcceptsOneToEightDigitsOfEitherCase) {
  EXPECT_EQ(HexToInt("5000"), 0x5000u);
  EXPECT_EQ(HexToInt("0"), 0u);
  EXPECT_EQ(HexToInt("ffffffff"), 0xFFFFFFFFu);
  EXPECT_EQ(HexToInt("00000000FE00"), 0xFE00u);
  EXPECT_EQ(HexToInt("aBcD"), 0xABCDu);
}

class TiTxtBadHex : public ::testing::TestWithParam<const char*> {};

TEST_P(TiTxtBadHex, NamesTheConvertedText) {
  EXPECT_EQ(ConversionError(GetParam()), "'$" + std::string(GetParam()) + "' is not a valid integer value");
}

INSTANTIATE_TEST_SUITE_P(Texts, TiTxtBadHex,
                         ::testing::Values("", " 1", "1 ", "-1", "+1", "G0", "100000000", "0x10", "SE"));

struct TDataLineCase {
  const char* Line;
  std::vector<uint8_t> Bytes;  // empty: refused
};

void PrintTo(const TDataLineCase& ACase, std::ostream* AOut) { *AOut << '"' << ACase.Line << '"'; }

class TiTxtDataLine : public ::testing::TestWithParam<TDataLineCase> {};

TEST_P(TiTxtDataLine, IsReadExactlyOrRefusedWhole) {
  std::vector<uint8_t> bytes = {0x99};
  EXPECT_EQ(ParseDataLine(GetParam().Line, bytes), !GetParam().Bytes.empty());
  EXPECT_EQ(bytes, GetParam().Bytes) << "a refused line leaves no bytes behind";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TiTxtDataLine,
    ::testing::Values(TDataLineCase{"00", {0x00}}, TDataLineCase{"0a 1B", {0x0A, 0x1B}},
                      TDataLineCase{"00\tFF", {0x00, 0xFF}},
                      TDataLineCase{"31 40 00 44", {0x31, 0x40, 0x00, 0x44}},
                      // the shifted-bytes fault: no separators
                      TDataLineCase{"31400044", {}}, TDataLineCase{"0A,1B", {}},
                      TDataLineCase{"0A;1B", {}}, TDataLineCase{"0A  1B", {}},
                      TDataLineCase{"0A 1B 2", {}}, TDataLineCase{"0", {}},
                      TDataLineCase{"0G", {}}, TDataLineCase{"Q", {}}, TDataLineCase{"SE", {}},
                      TDataLineCase{"0A 1B ", {}}, TDataLineCase{" 0A", {}},
                      TDataLineCase{"+1", {}}, TDataLineCase{"", {}}));

// Every prefix of a good line: a prefix that ends after a complete pair is
// read, every other one (cut pair, trailing blank) is refused.
TEST(TiTxtLine, EveryPrefixOfADataLine) {
  const std::string line = "31 40 00 44 12 34";
  const std::vector<uint8_t> bytes = {0x31, 0x40, 0x00, 0x44, 0x12, 0x34};
  for (size_t length = 0; length <= line.size(); ++length) {
    std::vector<uint8_t> got;
    const bool complete = length % 3 == 2;
    EXPECT_EQ(ParseDataLine(line.substr(0, length), got), complete) << "prefix of " << length;
    const size_t pairs = complete ? (length + 1) / 3 : 0;
    EXPECT_EQ(got, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(pairs)))
        << "prefix of " << length;
  }
}

}  // namespace
