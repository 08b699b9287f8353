// Verification of what was written: the host's CRC, the plan of ranges with
// the settings records laid over the image, and the comparison with the
// simulated board by CRC Check, by reading back, and when neither works.
#include "BslTestBench.h"
#include "BslVerify.h"
#include "SimBoard.h"

using namespace bsltest;

namespace {

TEST(CrcCcitt, MatchesTheStandardCheckValueAndTheBoardsModel) {
  const std::string digits = "123456789";
  const auto* data = reinterpret_cast<const uint8_t*>(digits.data());
  EXPECT_EQ(CrcCcitt(data, digits.size()), 0x29B1) << "CRC-CCITT (0xFFFF seed) check value";
  EXPECT_EQ(CrcCcitt(data + 4, 5, CrcCcitt(data, 4)), 0x29B1) << "continued over two pieces";
  EXPECT_EQ(CrcCcitt(data, 0), 0xFFFF);
  sim::TMsp430Memory memory;
  std::vector<uint8_t> bytes(300);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  memory.Preload(0x4400, bytes);
  EXPECT_EQ(CrcCcitt(bytes.data(), bytes.size()), memory.Crc(0x4400, bytes.size()));
}

TEST(VerifyPlan, LaterBytesWinAndTouchingRangesJoin) {
  TVerifyPlan plan;
  plan.Add(0x5000, {1, 2});
  plan.Add(0xFDF0, std::vector<uint8_t>(0x90, 0xFF));  // an image leaving the settings erased
  plan.Add(0x4400, {3});
  plan.Add(0xFE00, {0x08, 'i', 'n'});  // a settings record written over it
  plan.Add(0x4401, {4});               // touches 0x4400
  plan.Add(0x4FFF, {5, 6, 7, 8});      // bridges into 0x5000 and past it
  const auto& ranges = plan.Ranges();
  ASSERT_EQ(ranges.size(), 3u);
  EXPECT_EQ(ranges[0].Address, 0x4400u);
  EXPECT_EQ(ranges[0].Bytes, (std::vector<uint8_t>{3, 4}));
  EXPECT_EQ(ranges[1].Address, 0x4FFFu);
  EXPECT_EQ(ranges[1].Bytes, (std::vector<uint8_t>{5, 6, 7, 8}));
  EXPECT_EQ(ranges[2].Address, 0xFDF0u);
  ASSERT_EQ(ranges[2].Bytes.size(), 0x90u);
  EXPECT_EQ(ranges[2].Bytes[0x0F], 0xFF);
  EXPECT_EQ(ranges[2].Bytes[0x10], 0x08);
  EXPECT_EQ(ranges[2].Bytes[0x12], 'n');
  EXPECT_EQ(ranges[2].Bytes[0x13], 0xFF);
}

std::string Hex(uint32_t AValue, int ADigits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*Xh", ADigits, AValue);
  return text;
}

// A small application image: ALines data lines of 16 bytes from 0x4400.
std::vector<std::string> AppImage(int ALines, bool ASettings = false) {
  std::vector<std::string> lines = {"@4400"};
  for (int i = 0; i < ALines; ++i) {
    std::string line;
    for (int b = 0; b < 16; ++b) line += (b ? " " : "") + Hex((i * 16 + b) & 0xFF, 2).substr(0, 2);
    lines.push_back(line);
  }
  if (ASettings) lines.push_back("SET");
  lines.push_back("q");
  return lines;
}

class BslVerify : public ::testing::Test {
 protected:
  // A board under its RAM loader, as after stage 1 of an update.
  void Start(std::vector<std::string> AOptions = {}) {
    AOptions.push_back("return-delay=20");
    Board = sim::MakeSimBoard(AOptions);
    Board->PlugInto(Bench.Bus);
    ASSERT_TRUE(Bench.Attach());
    Bench.Bsl.SetAnswerTimeoutMs(500);
    TBsl_PasswordData password;
    password.fill(0xFF);
    Bench.Bsl.cmd_SendPassword(password);  // wrong for the old firmware: erases
    ASSERT_TRUE(Bench.Bsl.cmd_SendPassword(password));
    ASSERT_TRUE(Bench.Write({"@2500", "00 11 22 33 44 55 66 77", "#2500", "q"}, TTiTxtImageKind::Loader));
    ASSERT_TRUE(Bench.Reattach(std::chrono::seconds(3)));
    Bench.Log.clear();
  }
  TVerifyOutcome FlashAndVerify(const std::vector<std::string>& ALines) {
    EXPECT_TRUE(Bench.Write(ALines));
    Plan.AddImage(CheckTiTxtImage(ALines, TTiTxtImageKind::Application, "app.txt"));
    Bench.Log.clear();
    return VerifyWritten(Bench.Bsl, Plan);
  }
  std::vector<std::string> Lines(TColor AColor) const {
    std::vector<std::string> out;
    for (const auto& line : Bench.Log)
      if (line.AID == 0 && line.Color == AColor) out.push_back(line.Text);
    return out;
  }
  uint16_t BoardCrc(uint32_t AAddress, size_t ACount) const {
    const auto bytes = Board->ReadMemory(AAddress, ACount);
    return CrcCcitt(bytes.data(), bytes.size());
  }

  TBench Bench;
  std::shared_ptr<sim::TSimBoard> Board;
  TVerifyPlan Plan;
};

TEST_F(BslVerify, GoodImageOneGreyLinePerRange) {
  Start();
  const TVerifyOutcome outcome = FlashAndVerify(AppImage(4));
  EXPECT_EQ(outcome.Result, TVerifyResult::Ok);
  EXPECT_FALSE(outcome.Failed());
  EXPECT_FALSE(outcome.ReadBack);
  EXPECT_EQ(outcome.Pieces, 1);
  EXPECT_EQ(Lines(clGrayText), std::vector<std::string>{"VERIFY 00004400h-0000443Fh: CRC " +
                                                        Hex(BoardCrc(0x4400, 64), 4)});
  EXPECT_TRUE(Lines(clRed).empty());
}

// 32 KiB from 0x4400: pieces end on 16 KiB boundaries.
TEST_F(BslVerify, LongRangesAreCheckedInPieces) {
  Start();
  const TVerifyOutcome outcome = FlashAndVerify(AppImage(0x8000 / 16));
  EXPECT_EQ(outcome.Result, TVerifyResult::Ok);
  EXPECT_EQ(outcome.Pieces, 3);
  EXPECT_EQ(Lines(clGrayText),
            (std::vector<std::string>{
                "VERIFY 00004400h-00007FFFh: CRC " + Hex(BoardCrc(0x4400, 0x3C00), 4),
                "VERIFY 00008000h-0000BFFFh: CRC " + Hex(BoardCrc(0x8000, 0x4000), 4),
                "VERIFY 0000C000h-0000C3FFh: CRC " + Hex(BoardCrc(0xC000, 0x400), 4)}));
}

TEST_F(BslVerify, LostWriteIsAMismatchWithBothCrcs) {
  Start({"lose-write=3"});
  const TVerifyOutcome outcome = FlashAndVerify(AppImage(4));
  EXPECT_EQ(Board->ReadMemory(0x4420, 16), std::vector<uint8_t>(16, 0xFF)) << "third line lost";
  EXPECT_EQ(outcome.Result, TVerifyResult::Mismatch);
  EXPECT_TRUE(outcome.Failed());
  EXPECT_EQ(outcome.FailedAddress, 0x4400u);
  const auto& sent = Plan.Ranges()[0].Bytes;
  EXPECT_EQ(Lines(clRed), std::vector<std::string>{"VERIFY 00004400h-0000443Fh: CRC on the board " +
                                                   Hex(BoardCrc(0x4400, 64), 4) + ", expected " +
                                                   Hex(CrcCcitt(sent.data(), sent.size()), 4)});
}

// The settings records, as the settings callback sends them, are checked
// with the image; losing one of them is found too.
TEST_F(BslVerify, SettingsRecordsAreCheckedWithTheImage) {
  Start({"lose-write=5"});  // four data lines, then the first record
  std::vector<uint8_t> record(41, 0x00);
  record[0] = 4;
  std::copy_n("user", 4, record.begin() + 1);
  Bench.Bsl.SetOnSet([&record](TBsl* ABsl) {
    for (uint32_t address : {0xFE00u, 0xFE29u, 0xFE52u}) ABsl->cmd_WriteHexFast(static_cast<int>(address), record);
  });
  for (uint32_t address : {0xFE00u, 0xFE29u, 0xFE52u}) Plan.Add(address, record);
  const TVerifyOutcome outcome = FlashAndVerify(AppImage(4, true));
  EXPECT_EQ(outcome.Result, TVerifyResult::Mismatch);
  EXPECT_EQ(outcome.FailedAddress, 0xFE00u);
  EXPECT_EQ(outcome.Pieces, 2) << "the image and the settings block, one range each";
  ASSERT_EQ(Lines(clRed).size(), 1u);
  EXPECT_EQ(Lines(clRed)[0].rfind("VERIFY 0000FE00h-0000FE7Ah: CRC on the board ", 0), 0u);
}

TEST_F(BslVerify, UnknownCrcCheckFallsBackToReadingBack) {
  Start({"unknown-command=16"});
  const TVerifyOutcome outcome = FlashAndVerify(AppImage(8));  // 128 bytes: three reads
  EXPECT_EQ(outcome.Result, TVerifyResult::Ok);
  EXPECT_TRUE(outcome.ReadBack);
  EXPECT_EQ(Lines(clGrayText),
            (std::vector<std::string>{"VERIFY: the loader does not know CRC Check; reading back instead",
                                      "VERIFY 00004400h-0000447Fh: CRC " + Hex(BoardCrc(0x4400, 128), 4) +
                                          " (read back)"}));
  EXPECT_EQ(Bench.Texts(12).size(), 4u) << "one CRC Check, then 61 + 61 + 6 bytes read";
}

TEST_F(BslVerify, ReadBackFindsTheFirstDifference) {
  Start({"unknown-command=16", "lose-write=2"});
  const TVerifyOutcome outcome = FlashAndVerify(AppImage(8));
  EXPECT_EQ(outcome.Result, TVerifyResult::Mismatch);
  ASSERT_EQ(Lines(clRed).size(), 1u);
  EXPECT_NE(Lines(clRed)[0].find("(read back; first difference at 00004410h)"), std::string::npos);
}

TEST_F(BslVerify, NeitherCommandKnownIsNotVerifiable) {
  Start({"unknown-command=16", "unknown-command=18"});
  const TVerifyOutcome outcome = FlashAndVerify(AppImage(4));
  EXPECT_EQ(outcome.Result, TVerifyResult::NotVerifiable);
  EXPECT_FALSE(outcome.Failed());
  EXPECT_EQ(Lines(clRed), std::vector<std::string>{"Firmware written but could not be verified: the loader "
                                                   "refuses CRC Check and TX Data Block"});
}

TEST_F(BslVerify, SilentBoardIsNoAnswerAndStopsTheCheck) {
  Start();
  EXPECT_TRUE(Bench.Write(AppImage(2)));
  Plan.Add(0x4400, std::vector<uint8_t>(32, 0x00));
  Plan.Add(0x5000, {0x01});
  Board->SetNoAnswer(true);
  Bench.Bsl.SetAnswerTimeoutMs(20);
  Bench.Log.clear();
  const TVerifyOutcome outcome = VerifyWritten(Bench.Bsl, Plan);
  EXPECT_EQ(outcome.Result, TVerifyResult::NoAnswer);
  EXPECT_TRUE(outcome.Failed());
  EXPECT_EQ(Lines(clRed), std::vector<std::string>{"VERIFY 00004400h-0000441Fh: no answer from the board"});
  EXPECT_EQ(Bench.Texts(12).size(), 1u) << "the second range is not asked";
}

}  // namespace
