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

TEST(TiTxtLine, SeparatorsAreNotExamined) {
  EXPECT_EQ(DataLineBytes("0a,1b;2C"), (std::vector<uint8_t>{0x0A, 0x1B, 0x2C}));
}

// Every prefix of a good line: complete groups give their bytes, a cut
// group of one character is ignored, nothing raises.
TEST(TiTxtLine, EveryPrefixOfADataLine) {
  const std::string line = "31 40 00 44 12 34";
  const std::vector<uint8_t> bytes = {0x31, 0x40, 0x00, 0x44, 0x12, 0x34};
  for (size_t length = 0; length <= line.size(); ++length) {
    const size_t complete = (length + 1) / 3;
    EXPECT_EQ(DataLineBytes(line.substr(0, length)),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(complete)))
        << "prefix of " << length;
  }
}

}  // namespace
