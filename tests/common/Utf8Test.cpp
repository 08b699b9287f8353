// The one UTF-8 codec: conversions to and from UTF-16, and what is not text.
#include <gtest/gtest.h>

#include "Utf8.h"

namespace {

TEST(TextConversion, RoundTripsAndReplacesWhatIsNotText) {
  const std::string utf8 = "a\xC3\xA4\xC4\x8D\xE2\x82\xAC\xF0\x9F\x98\x80";  // a ä č € 😀
  const std::u16string utf16 = u"a\u00E4\u010D\u20AC\U0001F600";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFD" u"b");
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");  // cut short
  // Overlong forms and surrogates are no characters: "A" in two bytes is not "A".
  EXPECT_EQ(Utf8ToUtf16("\xC1\x81"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xE0\x80\xAF"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

}  // namespace
