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

// One application collection with one input item of ASize bits x ACount.
std::vector<uint8_t> OneInputItem(uint32_t ASize, uint32_t ACount) {
  std::vector<uint8_t> LData = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x77};  // report size, 4 bytes
  for (int LByte = 0; LByte < 4; ++LByte) LData.push_back(static_cast<uint8_t>(ASize >> (8 * LByte)));
  LData.push_back(0x97);  // report count, 4 bytes
  for (int LByte = 0; LByte < 4; ++LByte) LData.push_back(static_cast<uint8_t>(ACount >> (8 * LByte)));
  LData.insert(LData.end(), {0x81, 0x02, 0xC0});
  return LData;
}

struct TSizeCase {
  const char* Name;
  uint32_t Size, Count;
  bool Accepted;
  uint16_t Input;
};

class TDescriptorSizes : public ::testing::TestWithParam<TSizeCase> {};

TEST_P(TDescriptorSizes, LengthsThatDoNotFitSixteenBitsAreRefused) {
  const TSizeCase& LCase = GetParam();
  hid::TReportLayout LLayout;
  EXPECT_EQ(hid::ParseReportDescriptor(OneInputItem(LCase.Size, LCase.Count), LLayout), LCase.Accepted);
  if (LCase.Accepted) {
    EXPECT_EQ(LLayout.InputReportByteLength, LCase.Input);
  }
}

// The ID byte counts: 65534 data bytes are the longest report there is.
INSTANTIATE_TEST_SUITE_P(
    Limits, TDescriptorSizes,
    ::testing::Values(TSizeCase{"Bytes65533", 8, 65533, true, 65534}, TSizeCase{"Bytes65534", 8, 65534, true, 65535},
                      TSizeCase{"Bytes65535CutToZeroBefore", 8, 65535, false, 0},
                      TSizeCase{"Bits524272", 1, 524272, true, 65535}, TSizeCase{"Bits524273", 1, 524273, false, 0},
                      TSizeCase{"ProductWrapsIn32Bits", 0x10000, 0x10000, false, 0},
                      TSizeCase{"LargestFields", 0xFFFFFFFF, 0xFFFFFFFF, false, 0}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(TDescriptorSizes, ItemsThatFitAloneButNotTogetherAreRefused) {
  // Two inputs of 40000 bytes each into the same report.
  std::vector<uint8_t> LData = OneInputItem(8, 40000);
  LData.insert(LData.end() - 1, {0x81, 0x02});
  hid::TReportLayout LLayout;
  EXPECT_FALSE(hid::ParseReportDescriptor(LData, LLayout));
  LData = OneInputItem(8, 30000);
  LData.insert(LData.end() - 1, {0x81, 0x02});
  ASSERT_TRUE(hid::ParseReportDescriptor(LData, LLayout));
  EXPECT_EQ(LLayout.InputReportByteLength, 60001);
}

TEST(TDescriptorItems, LongItemsAreSkippedWholeOrRefusedWhenCut) {
  // A long item with 3 data bytes, at top level and inside the collection.
  const std::vector<uint8_t> LLong = {0xFE, 0x03, 0xF0, 0x11, 0x22, 0x33};
  const std::vector<uint8_t>& LBsl = kBslDatapipeDescriptor;
  const std::vector<std::pair<const char*, size_t>> LPlaces = {{"top level", 0}, {"inside the collection", 7}};
  for (const auto& [LWhere, LAt] : LPlaces) {
    std::vector<uint8_t> LWhole = LBsl;
    LWhole.insert(LWhole.begin() + static_cast<long>(LAt), LLong.begin(), LLong.end());
    hid::TReportLayout LLayout;
    ASSERT_TRUE(hid::ParseReportDescriptor(LWhole, LLayout)) << LWhere;
    EXPECT_EQ(LLayout.InputReportByteLength, 64) << LWhere;
    // The item's size says more than is left: cut after 1 to 5 of its bytes.
    for (size_t LKept = 1; LKept < LLong.size(); ++LKept) {
      std::vector<uint8_t> LCut(LBsl.begin(), LBsl.begin() + static_cast<long>(LAt));
      LCut.insert(LCut.end(), LLong.begin(), LLong.begin() + static_cast<long>(LKept));
      EXPECT_FALSE(hid::ParseReportDescriptor(LCut, LLayout)) << LWhere << ", " << LKept << " bytes of it";
    }
  }
  // At the very end, after a complete descriptor.
  std::vector<uint8_t> LTrailing = LBsl;
  LTrailing.insert(LTrailing.end(), {0xFE, 0x03, 0xF0, 0x11});
  hid::TReportLayout LLayout;
  EXPECT_FALSE(hid::ParseReportDescriptor(LTrailing, LLayout));
}

}  // namespace
