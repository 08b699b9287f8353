// The fast writer: runs of consecutive data in full reports, marks in file
// order between them, progress before every report, and the end result.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "BslTestBench.h"
#include "FastWriter.h"
#include "SimBoard.h"

using namespace bsltest;

namespace {

// A data line of ACount bytes, each its index within the image plus ASeed.
std::string DataLine(int ACount, int ASeed) {
  std::string line;
  char pair[4];
  for (int i = 0; i < ACount; ++i) {
    std::snprintf(pair, sizeof pair, "%02X ", (ASeed + i) & 0xFF);
    line += pair;
  }
  line.pop_back();
  return line;
}

std::vector<std::string> Lines(int ADataLines, int AWidth) {
  std::vector<std::string> lines;
  for (int i = 0; i < ADataLines; ++i) lines.push_back(DataLine(AWidth, i * AWidth));
  return lines;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> AParts) {
  std::vector<std::string> out;
  for (const auto& part : AParts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

struct TWrite {
  uint32_t Address;
  size_t Count;
};

// Fast writes among the recorded reports: address and data byte count.
std::vector<TWrite> FastWrites(TRecorder& ARecorder) {
  std::vector<TWrite> out;
  for (const auto& report : ARecorder.Written()) {
    if (report[2] != 0x1B) continue;
    out.push_back({report[3] | (report[4] << 8) | (static_cast<uint32_t>(report[5]) << 16),
                   static_cast<size_t>(report[1] - 4)});
  }
  return out;
}

MATCHER_P2(WriteAt, AAddress, ACount, "") { return arg.Address == AAddress && arg.Count == ACount; }

class FastWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Device = std::make_shared<TRecorder>();
    Bench.Bus.Plug(Device);
    ASSERT_TRUE(Bench.Attach());
    Bench.Bsl.SetOnProgress([this](int ACount, int ALine, const std::string&) {
      Events.push_back("progress " + std::to_string(ALine) + "/" + std::to_string(ACount) + " after " +
                       std::to_string(FastWrites(*Device).size()));
    });
    Bench.Bsl.SetOnSet([this](TBsl*) {
      Events.push_back("set after " + std::to_string(FastWrites(*Device).size()));
    });
  }
  TFastWriteResult Write(const std::vector<std::string>& ALines,
                         TTiTxtImageKind AKind = TTiTxtImageKind::Application) {
    return FastWriteImage(Bench.Bsl, CheckTiTxtImage(ALines, AKind, "image.txt"));
  }
  std::vector<std::string> SetEvents() const {
    std::vector<std::string> out;
    for (const auto& e : Events)
      if (e.rfind("set", 0) == 0) out.push_back(e);
    return out;
  }

  TBench Bench;
  std::shared_ptr<TRecorder> Device;
  std::vector<std::string> Events;
};

}  // namespace

TEST(FastWriteCapacityTest, OneReportLessHeaderAndAddressWithinTheLoaderBuffer) {
  EXPECT_EQ(FastWriteCapacity(64), 58u);
  EXPECT_EQ(FastWriteCapacity(7), 1u);
  EXPECT_EQ(FastWriteCapacity(6), 0u) << "a report with no room for data";
  EXPECT_EQ(FastWriteCapacity(256), 58u) << "the loader's 62-byte buffer still limits";
}

TEST_F(FastWriterTest, ConsecutiveLinesGoOutInFullReports) {
  // Ten lines of 16 bytes: 160 bytes in 58 + 58 + 44.
  const auto result = Write(Join({{"@4400"}, Lines(10, 16), {"q"}}));
  EXPECT_TRUE(result.Complete);
  EXPECT_EQ(result.Reports, 3);
  EXPECT_EQ(result.Bytes, 160u);
  EXPECT_THAT(FastWrites(*Device), ::testing::ElementsAre(WriteAt(0x4400u, 58u), WriteAt(0x443Au, 58u),
                                                          WriteAt(0x4474u, 44u)));
  // The bytes are the image's, in order, across report boundaries.
  const auto reports = Device->Written();
  EXPECT_EQ(reports[1][6], 58) << "byte 58 of the image opens the second report";
  EXPECT_EQ(reports[2][6 + 43], 159);
  EXPECT_TRUE(Bench.Logged("Firmware update complete"));
}

TEST_F(FastWriterTest, RunsOnBothSidesOfTheReportSize) {
  struct TRow {
    int Bytes;
    size_t Reports;
  };
  for (const TRow row : {TRow{57, 1}, TRow{58, 1}, TRow{59, 2}, TRow{116, 2}, TRow{117, 3}}) {
    SCOPED_TRACE(row.Bytes);
    const size_t before = FastWrites(*Device).size();
    const auto result = Write({"@4400", DataLine(row.Bytes > 40 ? 40 : row.Bytes, 0),
                               row.Bytes > 40 ? DataLine(row.Bytes - 40, 40) : "", "q"});
    EXPECT_TRUE(result.Complete);
    EXPECT_EQ(FastWrites(*Device).size() - before, row.Reports);
  }
}

TEST_F(FastWriterTest, SettingsLineComesBetweenTheDataAroundIt) {
  // Data, SET, then data that continue the same section without an address line.
  const auto result = Write(Join({{"@4400"}, Lines(4, 16), {"SET"}, Lines(4, 16), {"q"}}));
  EXPECT_TRUE(result.Complete);
  EXPECT_THAT(SetEvents(), ::testing::ElementsAre("set after 2"));
  EXPECT_THAT(FastWrites(*Device), ::testing::ElementsAre(WriteAt(0x4400u, 58u), WriteAt(0x443Au, 6u),
                                                          WriteAt(0x4440u, 58u), WriteAt(0x447Au, 6u)));
}

TEST_F(FastWriterTest, SectionsAreNotJoinedEvenWhenAdjacent) {
  const auto result = Write({"@4400", DataLine(16, 0), "@4410", DataLine(16, 0), "@FFE0", DataLine(16, 0), "q"});
  EXPECT_TRUE(result.Complete);
  EXPECT_THAT(FastWrites(*Device), ::testing::ElementsAre(WriteAt(0x4400u, 16u), WriteAt(0x4410u, 16u),
                                                          WriteAt(0xFFE0u, 16u)));
}

TEST_F(FastWriterTest, ProgressNamesTheLineOfEveryReportAndTheEndLine) {
  // Lines: 0 "@4400", 1-4 data (64 bytes), 5 "q": reports start in lines 1 and 4.
  Write(Join({{"@4400"}, Lines(4, 16), {"q"}}));
  EXPECT_THAT(Events, ::testing::ElementsAre("progress 1/6 after 0", "progress 4/6 after 1",
                                             "progress 5/6 after 2"));
}

TEST_F(FastWriterTest, LoaderIsStartedAfterAllItsData) {
  Bench.Bsl.SetAnswerTimeoutMs(20);  // Load PC is never answered
  const auto result =
      Write(Join({{"@2500"}, Lines(8, 16), {"#2500", "q"}}), TTiTxtImageKind::Loader);
  EXPECT_TRUE(result.Complete);
  const auto reports = Device->Written();
  ASSERT_EQ(reports.size(), 4u);  // 128 bytes in three reports, then Load PC
  EXPECT_EQ(std::vector<uint8_t>(reports[3].begin() + 1, reports[3].begin() + 6),
            (std::vector<uint8_t>{0x04, 0x17, 0x04, 0x25, 0x00}));
}

TEST_F(FastWriterTest, UnwrittenReportMakesTheImageIncomplete) {
  Device->AcceptedBytes = 10;  // every report is cut short
  const auto result = Write(Join({{"@4400"}, Lines(4, 16), {"q"}}));
  EXPECT_FALSE(result.Complete);
  EXPECT_TRUE(Bench.Logged("Firmware update incomplete: 2 reports were not written"));
}

TEST(FastWriterOnBoard, BoardHoldsTheImageByteForByte) {
  TBench bench;
  auto board = sim::MakeSimBoard({"return-delay=20"});
  board->PlugInto(bench.Bus);
  ASSERT_TRUE(bench.Attach());
  const TBsl_PasswordData wrong{}, erased = [] {
    TBsl_PasswordData p;
    p.fill(0xFF);
    return p;
  }();
  bench.Bsl.cmd_SendPassword(wrong);
  ASSERT_TRUE(bench.Bsl.cmd_SendPassword(erased));
  const auto loader = CheckTiTxtImage(Join({{"@2500"}, Lines(8, 16), {"#2500", "q"}}),
                                      TTiTxtImageKind::Loader, "loader");
  ASSERT_TRUE(FastWriteImage(bench.Bsl, loader).Complete);
  ASSERT_TRUE(bench.Reattach(std::chrono::seconds(3)));
  const auto firmware = CheckTiTxtImage(Join({{"@4400"}, Lines(100, 13), {"@10000"}, Lines(50, 16), {"q"}}),
                                        TTiTxtImageKind::Application, "firmware");
  ASSERT_TRUE(FastWriteImage(bench.Bsl, firmware).Complete);
  for (const TTiTxtRange& range : firmware.Ranges())
    EXPECT_EQ(board->ReadMemory(range.Address, range.Bytes.size()), range.Bytes)
        << "range at " << range.Address;
}
