// Framing of core packets into reports, the transport's log lines, the
// command layouts and the answers the commands accept.
#include "BslTestBench.h"

using namespace bsltest;

namespace {

class BslTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    Board = std::make_shared<TRecorder>();
    Bench.Bus.Plug(Board);
    ASSERT_TRUE(Bench.Attach());
    Bench.Bsl.SetAnswerTimeoutMs(kShortWaitMs);
  }
  std::vector<uint8_t> OnlyReport() {
    const auto written = Board->Written();
    EXPECT_EQ(written.size(), 1u);
    return written.empty() ? std::vector<uint8_t>() : written.back();
  }
  // Report ID, length, core packet, then 0xAC up to 64 bytes.
  static std::vector<uint8_t> Framed(const std::vector<uint8_t>& ACore) {
    std::vector<uint8_t> report = {0x3F, static_cast<uint8_t>(ACore.size())};
    report.insert(report.end(), ACore.begin(), ACore.end());
    report.resize(64, 0xAC);
    return report;
  }

  static constexpr uint32_t kShortWaitMs = 50;  // scripted replies are queued at once
  TBench Bench;
  std::shared_ptr<TRecorder> Board;
};

TEST_F(BslTransport, OneBytePacketIsFilledWithAC) {
  EXPECT_TRUE(Bench.Bsl.cmd_TxBslVersion());
  EXPECT_EQ(OnlyReport(), Framed({0x19}));
  const auto sent = Bench.Texts(12);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], "tx[64/1]: " + BytesToHex(Framed({0x19})));
  EXPECT_EQ(Bench.Texts(13), std::vector<std::string>{"tx-ok - data written: 64"});
  // Nothing answered: the read is abandoned and the rx line shows zeros.
  EXPECT_EQ(Bench.Texts(14), std::vector<std::string>{"rx[64]: " + BytesToHex(TBytes(64, 0))});
  EXPECT_FALSE(Bench.Device->ReadPending());
}

TEST_F(BslTransport, LogLinesCarryTheirSourceTypeAndColour) {
  Board->Reply(Report64({0x3F, 0x02, 0x3B, 0x00}));
  EXPECT_TRUE(Bench.Bsl.cmd_SendPassword(TBsl_PasswordData{}));
  ASSERT_EQ(Bench.Log.size(), 4u);
  EXPECT_EQ(Bench.Log[0].AID, 12);
  EXPECT_EQ(Bench.Log[0].Color, 0xFF0000u);
  EXPECT_EQ(Bench.Log[1].AID, 13);
  EXPECT_EQ(Bench.Log[1].Color, 0u);
  // The completion is delivered while the client waits for the answer.
  EXPECT_EQ(Bench.Log[2].AID, 11);
  EXPECT_EQ(Bench.Log[2].Text, "@Dummy(ErrorCode: 0,Count: 64, Ovl: " +
                                   std::to_string(reinterpret_cast<uintptr_t>(Bench.Device)) + ")");
  EXPECT_EQ(Bench.Log[3].AID, 14);
  EXPECT_EQ(Bench.Log[3].Color, 0x008000u);
  EXPECT_EQ(Bench.Log[3].Text, "rx[64]: " + BytesToHex(Report64({0x3F, 0x02, 0x3B, 0x00})));
  for (const auto& line : Bench.Log) EXPECT_EQ(line.AType, mtDebug);
}

TEST_F(BslTransport, PasswordPacketLayout) {
  TBsl_PasswordData password;
  for (size_t i = 0; i < password.size(); ++i) password[i] = static_cast<uint8_t>(0xE0 + i);
  Bench.Bsl.cmd_SendPassword(password);
  std::vector<uint8_t> core = {0x11};
  core.insert(core.end(), password.begin(), password.end());
  EXPECT_EQ(OnlyReport(), Framed(core));
  EXPECT_EQ(Bench.Texts(12).at(0), "tx[64/33]: " + BytesToHex(Framed(core)));
}

struct TPasswordCase {
  const char* Name;
  std::vector<uint8_t> Reply;  // empty: no answer at all
  bool Accepted;
};

void PrintTo(const TPasswordCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class BslPasswordAnswer : public BslTransport,
                          public ::testing::WithParamInterface<TPasswordCase> {};

TEST_P(BslPasswordAnswer, OnlyTheSuccessMessageUnlocks) {
  if (!GetParam().Reply.empty()) Board->Reply(Report64(GetParam().Reply));
  EXPECT_EQ(Bench.Bsl.cmd_SendPassword(TBsl_PasswordData{}), GetParam().Accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BslPasswordAnswer,
    ::testing::Values(TPasswordCase{"Success", {0x3F, 0x02, 0x3B, 0x00}, true},
                      TPasswordCase{"PasswordError", {0x3F, 0x02, 0x3B, 0x05}, false},
                      TPasswordCase{"Locked", {0x3F, 0x02, 0x3B, 0x04}, false},
                      TPasswordCase{"DataNotMessage", {0x3F, 0x02, 0x3A, 0x00}, false},
                      TPasswordCase{"AllZeros", {0x00, 0x00, 0x00, 0x00}, false},
                      TPasswordCase{"NoAnswer", {}, false}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(BslTransport, ShortWriteFailsWithItsCount) {
  Board->AcceptedBytes = 10;
  EXPECT_FALSE(Bench.Bsl.cmd_TxBslVersion());
  EXPECT_EQ(Bench.Texts(13), std::vector<std::string>{"tx-err - data written: 10"});
  EXPECT_TRUE(Bench.Texts(14).empty()) << "no read after a failed write";
}

TEST_F(BslTransport, LoadPCAddsFourAndClosesTheHandle) {
  EXPECT_TRUE(Bench.Bsl.cmd_LoadPC(0x2500));
  EXPECT_EQ(OnlyReport(), Framed({0x17, 0x04, 0x25, 0x00}));
  EXPECT_EQ(Bench.Device->HidFileHandle(), hid::kInvalidHandle);
}

TEST_F(BslTransport, LoadPCClosesTheHandleAfterAFailedSend) {
  Board->AcceptedBytes = 1;
  EXPECT_FALSE(Bench.Bsl.cmd_LoadPC(0x2500));
  EXPECT_EQ(Bench.Device->HidFileHandle(), hid::kInvalidHandle);
  // The next command opens the handle again.
  Board->AcceptedBytes = 0;
  EXPECT_TRUE(Bench.Bsl.cmd_TxBslVersion());
}

TEST_F(BslTransport, ReadHexLayoutAndOneReportAnswer) {
  const auto answer = Report64({0x3F, 0x05, 0x3A, 0x11, 0x22, 0x33, 0x44});
  Board->Reply(answer);
  TBytes rx = {0x99};
  EXPECT_TRUE(Bench.Bsl.cmd_ReadHex(0x1800, 0x0080, rx));
  EXPECT_EQ(OnlyReport(), Framed({0x18, 0x00, 0x18, 0x00, 0x80, 0x00}));
  EXPECT_EQ(rx, answer);
}

TEST_F(BslTransport, WriteHexLayoutHandsTheAnswerOver) {
  const auto answer = Report64({0x3F, 0x02, 0x3B, 0x01});
  Board->Reply(answer);
  TBytes rx;
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHex(0x4400, {0xAA, 0x55}, rx));
  EXPECT_EQ(OnlyReport(), Framed({0x10, 0x00, 0x44, 0x00, 0xAA, 0x55}));
  EXPECT_EQ(rx, answer);
}

TEST_F(BslTransport, FastWriteWithoutDataAndWideAddress) {
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x01ABCDEF, {}));
  EXPECT_EQ(OnlyReport(), Framed({0x1B, 0xEF, 0xCD, 0xAB}));
  ASSERT_EQ(Bench.Texts(0), std::vector<std::string>{"ADR: 01ABCDEFh, 0"});
  EXPECT_EQ(Bench.Log[0].Color, 0xFF000011u);
  EXPECT_TRUE(Bench.Texts(14).empty()) << "a fast write reads no answer";
}

// A data block of up to 58 bytes fits one 64-byte report; a longer fast
// write goes out in several reports, never beyond a report's end.
struct TBlockCase {
  size_t Bytes;
  std::vector<size_t> Blocks;
};

void PrintTo(const TBlockCase& ACase, std::ostream* AOut) { *AOut << ACase.Bytes << " bytes"; }

class BslBlockLimit : public BslTransport, public ::testing::WithParamInterface<TBlockCase> {};

TEST_P(BslBlockLimit, FastWritesSplitAtTheReportSize) {
  TBytes data(GetParam().Bytes);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x5000, data));
  const auto written = Board->Written();
  ASSERT_EQ(written.size(), GetParam().Blocks.size());
  size_t offset = 0;
  for (size_t i = 0; i < written.size(); ++i) {
    const size_t count = GetParam().Blocks[i];
    const uint32_t address = 0x5000 + static_cast<uint32_t>(offset);
    std::vector<uint8_t> core = {0x1B, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), 0};
    core.insert(core.end(), data.begin() + static_cast<long>(offset),
                data.begin() + static_cast<long>(offset + count));
    EXPECT_EQ(written[i], Framed(core)) << "block " << i;
    offset += count;
  }
}

INSTANTIATE_TEST_SUITE_P(Limit, BslBlockLimit,
                         ::testing::Values(TBlockCase{57, {57}}, TBlockCase{58, {58}},
                                           TBlockCase{59, {58, 1}}, TBlockCase{117, {58, 58, 1}}),
                         [](const auto& AInfo) { return std::to_string(AInfo.param.Bytes); });

class BslPacketLimit : public BslTransport, public ::testing::WithParamInterface<size_t> {};

TEST_P(BslPacketLimit, AcknowledgedWritesBeyondOneReportAreRefused) {
  const size_t bytes = GetParam();
  TBytes rx;
  const bool sent = Bench.Bsl.cmd_WriteHex(0x4400, TBytes(bytes, 0x5A), rx);
  if (bytes <= 58) {
    EXPECT_TRUE(sent);
    EXPECT_EQ(OnlyReport().size(), 64u);
  } else {
    EXPECT_FALSE(sent);
    EXPECT_TRUE(Board->Written().empty());
    EXPECT_EQ(Bench.Texts(13), std::vector<std::string>{
                                   "tx-err - packet of " + std::to_string(bytes + 4) +
                                   " bytes does not fit a report of 64 bytes"});
    EXPECT_EQ(Bench.Log.back().Color, 0x0000FFu);
  }
}

INSTANTIATE_TEST_SUITE_P(Limit, BslPacketLimit, ::testing::Values(57, 58, 59, 300));

TEST_F(BslTransport, WithoutLogCallbackEverythingStillWorks) {
  Bench.Bsl.SetOnLogMsg(nullptr);
  Board->Reply(Report64({0x3F, 0x02, 0x3B, 0x00}));
  EXPECT_TRUE(Bench.Bsl.cmd_SendPassword(TBsl_PasswordData{}));
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x2400, {1, 2, 3}));
  EXPECT_EQ(Board->Written().size(), 2u);
  EXPECT_TRUE(Bench.Log.empty());
}

TEST(BslNoDevice, CommandsFailWithoutWriting) {
  TBsl bsl;
  std::vector<std::string> log;
  bsl.SetOnLogMsg([&log](int32_t, TMessageType, const std::string& AText, TColor) {
    log.push_back(AText);
  });
  TBytes rx = {1, 2, 3};
  EXPECT_FALSE(bsl.OpenHidDev());
  EXPECT_FALSE(bsl.cmd_SendPassword(TBsl_PasswordData{}));
  EXPECT_FALSE(bsl.cmd_ReadHex(0x1800, 16, rx));
  EXPECT_FALSE(bsl.cmd_LoadPC(0x2500));
  EXPECT_EQ(rx, (TBytes{1, 2, 3})) << "no read was started";
  // Only the fast write's address line: the transport logs nothing without a device.
  EXPECT_FALSE(bsl.cmd_WriteHexFast(0x2400, {1}));
  EXPECT_EQ(log, std::vector<std::string>{"ADR: 00002400h, 1"});
}

TEST(BslOpenHidDev, SetsQueuesChecksOutAndOpens) {
  TBench bench;
  auto board = std::make_shared<TRecorder>();
  bench.Bus.Plug(board);
  bench.Loop.Pump();
  TJvHidDevice* found = nullptr;
  bench.Controller->OnEnumerate = [&found](TJvHidDevice* ADev, int) {
    if (FindLoader(ADev)) found = ADev;
    return true;
  };
  bench.Controller->Enumerate();
  ASSERT_NE(found, nullptr);
  bench.Bsl.SetHidDev(found);
  EXPECT_TRUE(bench.Bsl.OpenHidDev());
  EXPECT_TRUE(found->IsCheckedOut());
  EXPECT_NE(found->HidFileHandle(), hid::kInvalidHandle);
  // Already checked out: the second call fails.
  EXPECT_FALSE(bench.Bsl.OpenHidDev());
  bench.Device = found;  // checked in by the bench
}

}  // namespace

TEST_F(BslTransport, AWriteTheDeviceRefusesIsLoggedWithTheSystemsReason) {
  EXPECT_TRUE(Bench.Bsl.cmd_TxBslVersion());  // the handle is open from here on
  Bench.Bus.Unplug(Board.get());
  EXPECT_FALSE(Bench.Bsl.cmd_TxBslVersion());
  const std::vector<std::string> texts = Bench.Texts(13);
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(texts.end() - 2, texts.end()),
            (std::vector<std::string>{"tx-err - data written: 0", "tx-err - " + Bench.Device->PnPInfo().FDevicePath +
                                                                     ": The device is not connected. (error 1167)"}));
}

TEST_F(BslTransport, ADeviceThatCannotBeOpenedIsLoggedWithTheSystemsReason) {
  Bench.Bus.Unplug(Board.get());
  EXPECT_FALSE(Bench.Bsl.cmd_TxBslVersion());
  EXPECT_EQ(Bench.Texts(13), std::vector<std::string>{"tx-err - " + Bench.Device->PnPInfo().FDevicePath +
                                                      ": The system cannot find the file specified. (error 2)"});
}
