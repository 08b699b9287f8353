// The image writer, line by line and in full reports: what goes to the
// device in which order, the marks between the data, progress before every
// write, the log lines, and an image that does not reach the board whole.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "BslTestBench.h"
#include "ImageWriter.h"
#include "SimBoard.h"

using namespace bsltest;
using ::testing::ElementsAre;

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

MATCHER_P2(WriteAt, AAddress, ACount, "") { return arg.Address == AAddress && arg.Count == ACount; }

class ImageWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Device = std::make_shared<TRecorder>();
    Bench.Bus.Plug(Device);
    ASSERT_TRUE(Bench.Attach());
    Bench.Bsl.SetAnswerTimeoutMs(20);  // Load PC is never answered
    Bench.Bsl.SetOnSet([this](TBsl* ABsl) {
      EXPECT_EQ(ABsl, &Bench.Bsl);
      Events.push_back("set after " + std::to_string(FastWrites().size()));
    });
  }
  bool Write(const std::vector<std::string>& ALines, uint32_t ABlock,
             TTiTxtImageKind AKind = TTiTxtImageKind::Application) {
    const TTiTxtImage image = CheckTiTxtImage(ALines, AKind, "image.txt");
    return WriteImage(Bench.Bsl, image, ABlock, [this](const TImageProgress& AProgress) {
      Events.push_back("line " + std::to_string(AProgress.Line) + "/" + std::to_string(AProgress.Lines) + " " +
                       std::to_string(AProgress.Done) + " of " + std::to_string(AProgress.Total) + " bytes");
    });
  }
  // Core packets written, in order.
  std::vector<std::vector<uint8_t>> Cores() const {
    std::vector<std::vector<uint8_t>> cores;
    for (const auto& report : Device->Written()) cores.emplace_back(report.begin() + 2, report.begin() + 2 + report[1]);
    return cores;
  }
  std::vector<TWrite> FastWrites() const {
    std::vector<TWrite> out;
    for (const auto& core : Cores())
      if (core[0] == 0x1B) out.push_back({core[1] | (core[2] << 8) | (static_cast<uint32_t>(core[3]) << 16), core.size() - 4});
    return out;
  }
  std::vector<std::string> EventsLike(const std::string& APrefix) const {
    std::vector<std::string> out;
    for (const auto& e : Events)
      if (e.rfind(APrefix, 0) == 0) out.push_back(e);
    return out;
  }

  TBench Bench;
  std::shared_ptr<TRecorder> Device;
  std::vector<std::string> Events;
};

TEST(FastWriteCapacityTest, OneReportLessHeaderAndAddressWithinTheLoaderBuffer) {
  EXPECT_EQ(FastWriteCapacity(64), 58u);
  EXPECT_EQ(FastWriteCapacity(7), 1u);
  EXPECT_EQ(FastWriteCapacity(6), 0u) << "a report with no room for data";
  EXPECT_EQ(FastWriteCapacity(256), 58u) << "the loader's 62-byte buffer still limits";
}

// ---- line by line ----

TEST_F(ImageWriterTest, FiveLineExampleLineByLine) {
  EXPECT_TRUE(Write({"@5000", "31 40 00 44", "12 34", "SET", "q"}, kWriteLineByLine));
  EXPECT_EQ(Cores(), (std::vector<std::vector<uint8_t>>{{0x1B, 0x00, 0x50, 0x00, 0x31, 0x40, 0x00, 0x44},
                                                        {0x1B, 0x04, 0x50, 0x00, 0x12, 0x34}}));
  EXPECT_THAT(Events, ElementsAre("line 0/5 0 of 6 bytes", "line 1/5 0 of 6 bytes", "line 2/5 4 of 6 bytes",
                                  "line 3/5 6 of 6 bytes", "set after 2", "line 4/5 6 of 6 bytes"));
  EXPECT_EQ(Bench.Texts(2), (std::vector<std::string>{"line:0: @5000", "line:1: 31 40 00 44", "line:2: 12 34",
                                                      "line:3: SET", "line:4: q"}));
  EXPECT_EQ(Bench.Texts(3), std::vector<std::string>{"Firmware update complete"});
  EXPECT_EQ(Bench.Texts(0), (std::vector<std::string>{"Begin flashing file \"image.txt\".", "ADR: 00005000h, 4",
                                                      "ADR: 00005004h, 2", "End flashing file \"image.txt\"."}));
}

TEST_F(ImageWriterTest, LinesAreLoggedTrimmedInGreyUpToTheEndLine) {
  EXPECT_TRUE(Write({"  @4400\t", "", "01", "q", "@zz"}, kWriteLineByLine));
  EXPECT_EQ(Bench.Texts(2), (std::vector<std::string>{"line:0: @4400", "line:1: ", "line:2: 01", "line:3: q"}));
  for (const auto& line : Bench.Log) {
    if (line.AID == 2) {
      EXPECT_EQ(line.Color, 0x808080u);
    }
  }
  EXPECT_EQ(EventsLike("line ").size(), 4u) << "lines after the end line are not reported";
}

TEST_F(ImageWriterTest, StartAndVersionLinesActWhereTheyStand) {
  EXPECT_TRUE(Write({"@2500", "01 02 03 04 05 06", "#2500", "q"}, kWriteLineByLine, TTiTxtImageKind::Loader));
  EXPECT_EQ(Cores(), (std::vector<std::vector<uint8_t>>{{0x1B, 0x00, 0x25, 0x00, 1, 2, 3, 4, 5, 6},
                                                        {0x17, 0x04, 0x25, 0x00}}));
  Device->Clear();
  EXPECT_TRUE(Write({"?anything", "@4400", "01", "q"}, kWriteLineByLine));
  EXPECT_EQ(Cores(), (std::vector<std::vector<uint8_t>>{{0x19}, {0x1B, 0x00, 0x44, 0x00, 0x01}}));
}

// ---- in full reports ----

TEST_F(ImageWriterTest, ConsecutiveLinesGoOutInFullReports) {
  // Ten lines of 16 bytes: 160 bytes in 58 + 58 + 44.
  EXPECT_TRUE(Write(Join({{"@4400"}, Lines(10, 16), {"q"}}), kWriteFullReports));
  EXPECT_THAT(FastWrites(), ElementsAre(WriteAt(0x4400u, 58u), WriteAt(0x443Au, 58u), WriteAt(0x4474u, 44u)));
  // The bytes are the image's, in order, across report boundaries.
  const auto reports = Device->Written();
  EXPECT_EQ(reports[1][6], 58) << "byte 58 of the image opens the second report";
  EXPECT_EQ(reports[2][6 + 43], 159);
  EXPECT_EQ(Bench.Texts(0).back(), "End flashing file \"image.txt\": 160 bytes in 3 fast writes.");
  EXPECT_TRUE(Bench.Logged("Firmware update complete"));
}

TEST_F(ImageWriterTest, RunsOnBothSidesOfTheReportSize) {
  for (const auto& [bytes, reports] : {std::pair{57, 1u}, {58, 1u}, {59, 2u}, {116, 2u}, {117, 3u}}) {
    SCOPED_TRACE(bytes);
    const size_t before = FastWrites().size();
    EXPECT_TRUE(Write({"@4400", DataLine(bytes > 40 ? 40 : bytes, 0), bytes > 40 ? DataLine(bytes - 40, 40) : "", "q"},
                      kWriteFullReports));
    EXPECT_EQ(FastWrites().size() - before, reports);
  }
}

// Lines: 0 "@4400", 1-4 data, 5 "SET", 6-9 data, 10 "q". A mark ends a
// run; another section starts one even when adjacent.
TEST_F(ImageWriterTest, MarksAndSectionsEndARunAndProgressCountsItsBytes) {
  EXPECT_TRUE(Write(Join({{"@4400"}, Lines(4, 16), {"SET"}, Lines(4, 16), {"q"}}), kWriteFullReports));
  EXPECT_THAT(FastWrites(), ElementsAre(WriteAt(0x4400u, 58u), WriteAt(0x443Au, 6u), WriteAt(0x4440u, 58u),
                                        WriteAt(0x447Au, 6u)));
  EXPECT_THAT(Events, ElementsAre("line 1/11 0 of 128 bytes", "line 4/11 58 of 128 bytes", "set after 2",
                                  "line 6/11 64 of 128 bytes", "line 9/11 122 of 128 bytes",
                                  "line 10/11 128 of 128 bytes"));
  Device->Clear();
  EXPECT_TRUE(Write({"@4400", DataLine(16, 0), "@4410", DataLine(16, 0), "@FFE0", DataLine(16, 0), "q"},
                    kWriteFullReports));
  EXPECT_THAT(FastWrites(), ElementsAre(WriteAt(0x4400u, 16u), WriteAt(0x4410u, 16u), WriteAt(0xFFE0u, 16u)));
}

TEST_F(ImageWriterTest, LoaderIsStartedAfterAllItsData) {
  EXPECT_TRUE(Write(Join({{"@2500"}, Lines(8, 16), {"#2500", "q"}}), kWriteFullReports, TTiTxtImageKind::Loader));
  const auto cores = Cores();
  ASSERT_EQ(cores.size(), 4u);  // 128 bytes in three reports, then Load PC
  EXPECT_EQ(cores[3], (std::vector<uint8_t>{0x17, 0x04, 0x25, 0x00}));
}

// ---- both ways ----

// Every report is cut short: the writer goes on, and the end line is not
// taken for a complete image.
TEST_F(ImageWriterTest, UnwrittenReportsMakeTheImageIncomplete) {
  Device->AcceptedBytes = 10;
  EXPECT_FALSE(Write({"@4400", "01 02", "03 04", "q"}, kWriteLineByLine));
  EXPECT_FALSE(Write(Join({{"@4400"}, Lines(4, 16), {"q"}}), kWriteFullReports));
  EXPECT_EQ(Bench.Texts(3), (std::vector<std::string>{"Firmware update incomplete: 2 lines were not written",
                                                      "Firmware update incomplete: 2 reports were not written"}));
  EXPECT_EQ(Device->Written().size(), 4u) << "the writer goes on after a failed write";
}

TEST_F(ImageWriterTest, NothingMoreGoesToABoardThatLeft) {
  ASSERT_TRUE(Write({"@4400", "01 02", "q"}, kWriteLineByLine)) << "the board works until unplugged";
  Bench.Bus.Unplug(Device.get());
  EXPECT_FALSE(Write({"@4400", "01 02", "SET", "03", "q"}, kWriteLineByLine));
  EXPECT_FALSE(Write({"@4400", "01 02", "SET", "03", "q"}, kWriteFullReports));
  EXPECT_EQ(Bench.Texts(3), (std::vector<std::string>{"Firmware update complete",
                                                      "Firmware update stopped: the board left the bus at line 2",
                                                      "Firmware update stopped: the board left the bus before line 3"}));
  EXPECT_TRUE(EventsLike("set").empty());
}

TEST(ImageWriterOnBoard, BoardHoldsTheImageByteForByte) {
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
  const auto loader =
      CheckTiTxtImage(Join({{"@2500"}, Lines(8, 16), {"#2500", "q"}}), TTiTxtImageKind::Loader, "loader");
  ASSERT_TRUE(WriteImage(bench.Bsl, loader, kWriteFullReports, {}));
  ASSERT_TRUE(bench.Reattach(std::chrono::seconds(3)));
  const auto firmware = CheckTiTxtImage(Join({{"@4400"}, Lines(100, 13), {"@10000"}, Lines(50, 16), {"q"}}),
                                        TTiTxtImageKind::Application, "firmware");
  ASSERT_TRUE(WriteImage(bench.Bsl, firmware, kWriteFullReports, {}));
  for (const TTiTxtRange& range : firmware.Ranges())
    EXPECT_EQ(board->ReadMemory(range.Address, range.Bytes.size()), range.Bytes) << "range at " << range.Address;
}

}  // namespace
