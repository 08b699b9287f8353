#include "Cp1250.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <cstring>

namespace {

struct TTableCase {
  std::uint8_t Byte;
  std::optional<char32_t> CodePoint;
};

void PrintTo(const TTableCase& ACase, std::ostream* AOut) {
  *AOut << "0x" << std::hex << unsigned(ACase.Byte);
}

class Cp1250TableTest : public ::testing::TestWithParam<TTableCase> {};

TEST_P(Cp1250TableTest, ByteMapsToKnownCodePointAndBack) {
  EXPECT_EQ(Cp1250ToUnicode(GetParam().Byte), GetParam().CodePoint);
  if (GetParam().CodePoint) {
    EXPECT_EQ(UnicodeToCp1250(*GetParam().CodePoint), GetParam().Byte);
  }
}

INSTANTIATE_TEST_SUITE_P(
    KnownBytes, Cp1250TableTest,
    ::testing::Values(TTableCase{0x41, U'A'}, TTableCase{0x7F, 0x7F},
                      TTableCase{0x80, 0x20AC}, TTableCase{0x8A, 0x0160},
                      TTableCase{0x9A, 0x0161}, TTableCase{0xE8, 0x010D},
                      TTableCase{0xA0, 0x00A0}, TTableCase{0xFF, 0x02D9},
                      TTableCase{0x81, std::nullopt}, TTableCase{0x83, std::nullopt},
                      TTableCase{0x88, std::nullopt}, TTableCase{0x90, std::nullopt},
                      TTableCase{0x98, std::nullopt}));

// glibc's converter is an independent reference for the whole table.
class IconvReference {
 public:
  IconvReference(const char* ATo, const char* AFrom) : FHandle(iconv_open(ATo, AFrom)) {}
  ~IconvReference() {
    if (Usable()) iconv_close(FHandle);
  }
  bool Usable() const { return FHandle != reinterpret_cast<iconv_t>(-1); }
  // Converts AInput; false when the converter rejects it.
  bool Convert(const void* AInput, size_t ASize, void* AOutput, size_t AOutSize) {
    iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    char* in = static_cast<char*>(const_cast<void*>(AInput));
    char* out = static_cast<char*>(AOutput);
    return iconv(FHandle, &in, &ASize, &out, &AOutSize) != static_cast<size_t>(-1);
  }

 private:
  iconv_t FHandle;
};

TEST(Cp1250Table, DecodingAgreesWithSystemConverterForEveryByte) {
  IconvReference reference("UTF-32LE", "CP1250");
  // glibc's gconv modules (package libc6) hold CP1250; without them the
  // table would go unchecked.
  ASSERT_TRUE(reference.Usable()) << "no CP1250 converter: install glibc's gconv modules";
  for (unsigned byte = 0; byte < 256; ++byte) {
    const unsigned char input = static_cast<unsigned char>(byte);
    char32_t expected = 0;
    const bool defined = reference.Convert(&input, 1, &expected, sizeof expected);
    EXPECT_EQ(Cp1250ToUnicode(input), defined ? std::optional<char32_t>(expected) : std::nullopt)
        << "byte 0x" << std::hex << byte;
  }
}

TEST(Cp1250Table, EncodingAgreesWithSystemConverterForTheBasicPlane) {
  IconvReference reference("CP1250", "UTF-32LE");
  // glibc's gconv modules (package libc6) hold CP1250; without them the
  // table would go unchecked.
  ASSERT_TRUE(reference.Usable()) << "no CP1250 converter: install glibc's gconv modules";
  for (char32_t code = 0; code < 0x10000; ++code) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    unsigned char expected = 0;
    const bool held = reference.Convert(&code, sizeof code, &expected, 1);
    EXPECT_EQ(UnicodeToCp1250(code), held ? std::optional<std::uint8_t>(expected) : std::nullopt)
        << "U+" << std::hex << static_cast<unsigned>(code);
  }
}

struct TEncodeCase {
  const char* Label;
  std::string Utf8;
  std::string Cp1250;
};
void PrintTo(const TEncodeCase& ACase, std::ostream* AOut) { *AOut << ACase.Label; }

class Cp1250EncodeTest : public ::testing::TestWithParam<TEncodeCase> {};

TEST_P(Cp1250EncodeTest, EncodesWithReferencesForTheRest) {
  EXPECT_EQ(Utf8ToCp1250(GetParam().Utf8), GetParam().Cp1250);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Cp1250EncodeTest,
    ::testing::Values(
        TEncodeCase{"Empty", "", ""},
        TEncodeCase{"Czech", "žluťoučký kůň", "\x9Elu\x9Dou\xE8k\xFD k\xF9\xF2"},
        TEncodeCase{"Euro", "€", "\x80"},
        TEncodeCase{"Japanese", "A日本", "A&#26085;&#26412;"},
        TEncodeCase{"BeyondBasicPlane", "😀", "&#128512;"},
        TEncodeCase{"TruncatedSequence", "a\xC4", "a&#65533;"},
        TEncodeCase{"Overlong", "\xC0\xAF", "&#65533;&#65533;"},
        TEncodeCase{"Surrogate", "\xED\xA0\x80", "&#65533;&#65533;&#65533;"},
        TEncodeCase{"StrayContinuation", "\x80x", "&#65533;x"}),
    [](const auto& AInfo) { return std::string(AInfo.param.Label); });

TEST(Cp1250Decode, UndefinedBytesBecomeReplacementCharacter) {
  EXPECT_EQ(Cp1250ToUtf8("\x8A\x9A\x81\xE8"), "Šš\xEF\xBF\xBD" "č");
}

}  // namespace
