// Report lengths and usages from real descriptors, and malformed input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "DescriptorFixtures.h"
#include "ReportDescriptor.h"

namespace {

struct TDescriptorCase {
  const char* Name;
  const std::vector<uint8_t>* Data;
  uint16_t UsagePage, Usage, Input, Output, Feature;
  bool UsesIds;
};

class TDescriptor : public ::testing::TestWithParam<TDescriptorCase> {};

TEST_P(TDescriptor, LengthsCountTheReportIdByte) {
  const TDescriptorCase& LCase = GetParam();
  hid::TReportLayout LLayout;
  ASSERT_TRUE(hid::ParseReportDescriptor(*LCase.Data, LLayout));
  EXPECT_EQ(LLayout.UsagePage, LCase.UsagePage);
  EXPECT_EQ(LLayout.Usage, LCase.Usage);
  EXPECT_EQ(LLayout.InputReportByteLength, LCase.Input);
  EXPECT_EQ(LLayout.OutputReportByteLength, LCase.Output);
  EXPECT_EQ(LLayout.FeatureReportByteLength, LCase.Feature);
  EXPECT_EQ(LLayout.UsesReportIds, LCase.UsesIds);
}

TEST_P(TDescriptor, EveryTruncatedPrefixIsRejectedOnceTheCollectionOpened) {
  const std::vector<uint8_t>& LData = *GetParam().Data;
  const size_t LCollectionEnd = static_cast<size_t>(
      std::find(LData.begin(), LData.end(), uint8_t{0xA1}) - LData.begin()) + 2;
  for (size_t LLength = 1; LLength < LData.size(); ++LLength) {
    hid::TReportLayout LLayout;
    const std::vector<uint8_t> LPrefix(LData.begin(), LData.begin() + static_cast<long>(LLength));
    const bool LParsed = hid::ParseReportDescriptor(LPrefix, LLayout);
    if (LLength >= LCollectionEnd) {
      // Cut inside an item or before the last End Collection.
      EXPECT_FALSE(LParsed) << "prefix of " << LLength << " bytes";
    } else {
      EXPECT_EQ(LLayout.InputReportByteLength, 0) << "prefix of " << LLength << " bytes";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    RealDevices, TDescriptor,
    ::testing::Values(TDescriptorCase{"BootKeyboard", &kBootKeyboardDescriptor, 0x01, 0x06, 9, 2, 0, false},
                      TDescriptorCase{"WheelMouse", &kWheelMouseDescriptor, 0x01, 0x02, 5, 0, 0, false},
                      TDescriptorCase{"BslDatapipe", &kBslDatapipeDescriptor, 0xFF00, 0x01, 64, 64, 0, true}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(TDescriptorItems, SeveralReportIdsGiveTheLongestReport) {
  // ID 1: 2 input bytes; ID 2: 7 input bytes and a 3-byte feature.
  const std::vector<uint8_t> LData = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95,
                                      0x02, 0x81, 0x02, 0x85, 0x02, 0x95, 0x07, 0x81, 0x02, 0x95, 0x03, 0xB1,
                                      0x02, 0xC0};
  hid::TReportLayout LLayout;
  ASSERT_TRUE(hid::ParseReportDescriptor(LData, LLayout));
  EXPECT_EQ(LLayout.InputReportByteLength, 8);
  EXPECT_EQ(LLayout.FeatureReportByteLength, 4);
  EXPECT_EQ(LLayout.OutputReportByteLength, 0);
}

TEST(TDescriptorItems, PushAndPopRestoreTheGlobals) {
  // Size 8 count 4, push, size 1 count 3 input, pop, input: 3 bits + 32 bits.
  const std::vector<uint8_t> LData = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x04,
                                      0xA4, 0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0xB4, 0x81, 0x02, 0xC0};
  hid::TReportLayout LLayout;
  ASSERT_TRUE(hid::ParseReportDescriptor(LData, LLayout));
  EXPECT_EQ(LLayout.InputReportByteLength, 1 + 5);
}

TEST(TDescriptorItems, MalformedDescriptorsAreRejected) {
  hid::TReportLayout LLayout;
  EXPECT_FALSE(hid::ParseReportDescriptor(std::vector<uint8_t>{0xC0}, LLayout)) << "end without collection";
  EXPECT_FALSE(hid::ParseReportDescriptor(std::vector<uint8_t>{0xB4}, LLayout)) << "pop without push";
  EXPECT_FALSE(hid::ParseReportDescriptor(std::vector<uint8_t>{0x27, 0x01, 0x02}, LLayout)) << "4-byte item cut";
  EXPECT_FALSE(hid::ParseReportDescriptor(std::vector<uint8_t>{0xFE}, LLayout)) << "long item cut";
  EXPECT_TRUE(hid::ParseReportDescriptor(std::vector<uint8_t>{}, LLayout));
  EXPECT_EQ(LLayout.InputReportByteLength, 0);
}

}  // namespace
