#include "Orvik.XmlUtils.h"

#include <gtest/gtest.h>

namespace {

struct TEscapeCase {
  std::string Input;
  std::string Expected;
};

void PrintTo(const TEscapeCase& ACase, std::ostream* AOut) { *AOut << ACase.Input; }

class EncodeXmlDataTest : public ::testing::TestWithParam<TEscapeCase> {};

TEST_P(EncodeXmlDataTest, ReplacesTheFiveReservedCharacters) {
  EXPECT_EQ(EncodeXmlData(GetParam().Input), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeXmlDataTest,
    ::testing::Values(
        TEscapeCase{"", ""},
        TEscapeCase{"plain text", "plain text"},
        TEscapeCase{"A&B <1> 'x'", "A&amp;B &lt;1&gt; &apos;x&apos;"},
        TEscapeCase{"&amp;", "&amp;amp;"},  // existing entities are not recognised
        TEscapeCase{"\"q\"", "&quot;q&quot;"},
        TEscapeCase{"<<>>", "&lt;&lt;&gt;&gt;"},
        TEscapeCase{"\xC4\x9B\xC5\xA1\xC4\x8D & \xE6\x97\xA5", "\xC4\x9B\xC5\xA1\xC4\x8D &amp; \xE6\x97\xA5"},
        TEscapeCase{std::string("a\0b", 3), std::string("a\0b", 3)}));

}  // namespace
