// The board's ID from the device descriptor table: the die record found by
// its tag wherever it lies, the table read in whole answers, and nothing
// taken from a table that has no record, ends early or cannot be read.
#include <gtest/gtest.h>

#include <map>

#include "BoardId.h"

namespace {

// A die record entry: lot/wafer 1A2B3C4D, die X 0012, die Y 0034, test results.
const std::vector<uint8_t> kDieEntry = {0x08, 0x0A, 0x4D, 0x3C, 0x2B, 0x1A, 0x12, 0x00, 0x34, 0x00, 0x00, 0x00};
const std::vector<uint8_t> kAdcEntry = {0x11, 0x04, 0x10, 0x80, 0x2E, 0x00};

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> AParts) {
  std::vector<uint8_t> out;
  for (const auto& part : AParts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// The board's memory from 0x1A08: the entries, then erased flash. Records
// every read; reads from AFailFrom on get no answer.
struct TFakeTable {
  std::vector<uint8_t> Entries;
  uint32_t FailFrom = UINT32_MAX;
  std::map<uint32_t, uint32_t> Reads;  // address -> count

  TBoardMemoryReader Reader() {
    return [this](uint32_t AAddress, uint32_t ACount, std::vector<uint8_t>& AOut) {
      Reads[AAddress] = ACount;
      if (AAddress + ACount > FailFrom) return false;
      AOut.assign(ACount, 0xFF);
      for (uint32_t i = 0; i < ACount; ++i)
        if (AAddress + i - kDescriptorEntriesStart < Entries.size()) AOut[i] = Entries[AAddress + i - kDescriptorEntriesStart];
      return true;
    };
  }
};

}  // namespace

TEST(BoardId, DieRecordIsFoundByItsTag) {
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Entries;
    uint32_t FailFrom;
    const char* Expected;  // empty: no ID
  };
  const std::vector<uint8_t> lateDie = Join({std::vector<uint8_t>{0x02, 0x3C}, std::vector<uint8_t>(0x3C, 0x00), kDieEntry});
  const TCase cases[] = {
      {"first entry, as on the F5529", Join({kDieEntry, kAdcEntry}), UINT32_MAX, "1A2B3C4D-0012-0034"},
      {"after another entry", Join({kAdcEntry, kDieEntry}), UINT32_MAX, "1A2B3C4D-0012-0034"},
      {"beyond the first answer", lateDie, UINT32_MAX, "1A2B3C4D-0012-0034"},
      {"no die record before the blank tag", Join({kAdcEntry, std::vector<uint8_t>{0xFF}, kDieEntry}), UINT32_MAX, ""},
      {"a die record too short", {0x08, 0x04, 0x4D, 0x3C, 0x2B, 0x1A}, UINT32_MAX, ""},
      {"an erased die record", Join({std::vector<uint8_t>{0x08, 0x0A}, std::vector<uint8_t>(10, 0xFF)}), UINT32_MAX, ""},
      {"entries up to the end of the table, no record", {0x02, 0xF6}, UINT32_MAX, ""},
      {"the board stops answering", lateDie, 0x1A08 + 61, ""},
      {"the board answers nothing", Join({kDieEntry}), 0, ""},
  };
  for (const TCase& c : cases) {
    TFakeTable table{c.Entries, c.FailFrom, {}};
    const std::optional<TDieRecord> die = FindDieRecord(table.Reader());
    EXPECT_EQ(die ? BoardIdText(*die) : "", c.Expected) << c.Name;
    for (const auto& [address, count] : table.Reads) {
      EXPECT_LE(count, 61u) << c.Name << ": an answer fills one report";
      EXPECT_LE(address + count, kDescriptorTableEnd) << c.Name << ": read past the table";
    }
  }
}

TEST(BoardId, TextHasFixedWidthUpperCaseFields) {
  EXPECT_EQ(BoardIdText({0x0000ABCD, 0x0001, 0xFFFE}), "0000ABCD-0001-FFFE");
}
