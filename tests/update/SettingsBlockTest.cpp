// The settings records as the board receives them.
#include <gtest/gtest.h>

#include "SettingsBlock.h"

namespace {

using update::SettingsRecord;

TEST(SettingsRecord, DefaultTextsGiveTheirRecords) {
  const TBytes apn = SettingsRecord(u"internet");
  ASSERT_EQ(apn.size(), 41u);
  const TBytes head = {0x08, 0x69, 0x6E, 0x74, 0x65, 0x72, 0x6E, 0x65, 0x74};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), apn.begin()));
  EXPECT_TRUE(std::all_of(apn.begin() + 9, apn.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(SettingsRecord(u""), TBytes(41, 0x00));
}

TEST(SettingsRecord, LengthsAroundTheCapacity) {
  for (size_t length : {39u, 40u, 41u, 60u}) {
    const std::u16string text(length, u'a');
    const TBytes record = SettingsRecord(text);
    ASSERT_EQ(record.size(), 41u) << length;
    const size_t kept = std::min<size_t>(length, 40);
    EXPECT_EQ(record[0], kept) << length;
    EXPECT_EQ(std::count(record.begin() + 1, record.end(), 'a'), static_cast<long>(kept)) << length;
  }
}

TEST(SettingsRecord, EachCodeUnitKeepsItsLowByte) {
  const TBytes record = SettingsRecord(u"\u00E4\u010D");
  EXPECT_EQ(record[0], 2);
  EXPECT_EQ(record[1], 0xE4);
  EXPECT_EQ(record[2], 0x0D);
  EXPECT_TRUE(SettingsRecord(u"x", -1).empty());
  EXPECT_EQ(SettingsRecord(u"abc", 2), (TBytes{2, 'a', 'b'}));
}

// The one check both front ends ask before anything is sent.
TEST(SettingsTextCheck, NamesEachCharacterTheBoardWouldChange) {
  const auto check = update::CheckSettingsText(u"net.\u010D\u00E4\U0001F600");
  ASSERT_EQ(check.Unstorable.size(), 2u);  // the a with diaeresis fits
  EXPECT_EQ(update::UnstorableLine(0, check.Unstorable[0]), "Access point name: \u010D (U+010D) would be stored as 0Dh");
  EXPECT_EQ(update::UnstorableLine(2, check.Unstorable[1]), "Password: \U0001F600 (U+1F600) would be stored as 3Dh 00h");
  EXPECT_TRUE(update::CheckSettingsText(std::u16string(40, u'a')).Exact());
  EXPECT_TRUE(update::CheckSettingsText(std::u16string(41, u'a')).TooLong());
}

TEST(SettingsRecord, AddressesAdvanceByOneRecord) {
  EXPECT_EQ(update::SettingsRecordAddress(0), 0xFE00u);
  EXPECT_EQ(update::SettingsRecordAddress(1), 0xFE29u);
  EXPECT_EQ(update::SettingsRecordAddress(2), 0xFE52u);
}

}  // namespace
