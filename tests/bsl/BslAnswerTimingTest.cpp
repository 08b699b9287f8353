// Answers that come late or never: a late answer within the wait is used;
// one that misses it never lands in the caller's buffer afterwards and is
// never taken for the answer of the next command.
#include <thread>

#include "BslTestBench.h"
#include "SimBoard.h"

using namespace bsltest;
using namespace std::chrono_literals;

namespace {

TBsl_PasswordData Erased() {
  TBsl_PasswordData password;
  password.fill(0xFF);
  return password;
}

class BslAnswerTiming : public ::testing::Test {
 protected:
  void SetUp() override {
    Board = std::make_shared<sim::TSimBoard>();
    Board->PlugInto(Bench.Bus);
    ASSERT_TRUE(Bench.Attach());
    // The board starts with old firmware: a wrong password erases it, and
    // then the erased board's password unlocks it.
    EXPECT_FALSE(Bench.Bsl.cmd_SendPassword(Erased()));
  }

  TBench Bench;
  std::shared_ptr<sim::TSimBoard> Board;
};

TEST_F(BslAnswerTiming, LateAnswerWithinTheWaitIsUsed) {
  Board->SetAnswerDelayMs(150);
  Bench.Bsl.SetAnswerTimeoutMs(2000);
  EXPECT_TRUE(Bench.Bsl.cmd_SendPassword(Erased()));
  EXPECT_FALSE(Bench.Device->ReadPending());
  EXPECT_EQ(Bench.Texts(11).back().rfind("@Dummy(ErrorCode: 0,Count: 64,", 0), 0u);
}

TEST_F(BslAnswerTiming, MissingAnswerIsNotTakenForTheNextCommand) {
  // The wrong password's answer 0x05 comes after the client gave up.
  Board->SetAnswerDelayMs(200);
  Bench.Bsl.SetAnswerTimeoutMs(50);
  TBsl_PasswordData wrong{};
  EXPECT_FALSE(Bench.Bsl.cmd_SendPassword(wrong));
  EXPECT_FALSE(Bench.Device->ReadPending());
  std::this_thread::sleep_for(300ms);  // the stale 0x05 is queued by now
  // The next password is right and answered at once: its own 0x00 counts.
  Board->SetAnswerDelayMs(0);
  EXPECT_TRUE(Bench.Bsl.cmd_SendPassword(Erased()));
}

TEST_F(BslAnswerTiming, AbandonedReadNeverFillsTheBufferLater) {
  ASSERT_TRUE(Bench.Bsl.cmd_SendPassword(Erased()));
  Board->SetAnswerDelayMs(150);
  Bench.Bsl.SetAnswerTimeoutMs(30);
  TBytes rx;
  EXPECT_TRUE(Bench.Bsl.cmd_ReadHex(0x1800, 8, rx));
  ASSERT_EQ(rx, TBytes(64, 0));
  std::this_thread::sleep_for(250ms);
  EXPECT_EQ(rx, TBytes(64, 0)) << "the answer arrived after the read was cancelled";
  // The abandoned read's completion was delivered as an abort.
  EXPECT_EQ(Bench.Texts(11).back().rfind("@Dummy(ErrorCode: 995,Count: 0,", 0), 0u);
}

TEST_F(BslAnswerTiming, NoAnswerEndsInAnAbortedRead) {
  Board->SetNoAnswer(true);
  Bench.Bsl.SetAnswerTimeoutMs(50);
  EXPECT_FALSE(Bench.Bsl.cmd_SendPassword(Erased()));
  EXPECT_FALSE(Bench.Device->ReadPending());
  EXPECT_EQ(Bench.Texts(11).back().rfind("@Dummy(ErrorCode: 995,Count: 0,", 0), 0u);
  EXPECT_EQ(Bench.Texts(14).back(), "rx[64]: " + BytesToHex(TBytes(64, 0)));
}

TEST_F(BslAnswerTiming, LoadPCReadEndsWhenTheBoardLeaves) {
  ASSERT_TRUE(Bench.Bsl.cmd_SendPassword(Erased()));
  Bench.Bsl.SetAnswerTimeoutMs(5000);
  const size_t before = Bench.Texts(11).size();
  const size_t receivedBefore = Bench.Texts(14).size();
  Bench.Bsl.cmd_LoadPC(0x2500);  // nothing loaded there: the board hangs
  EXPECT_FALSE(Bench.Bus.IsPlugged(Board.get()));
  EXPECT_FALSE(Bench.Device->ReadPending());
  // The read ended because the board left, never because the wait ran out:
  // a read that started ("rx[64]") completed once, with "device not
  // connected"; when the board left before the read could start, the start
  // was refused for that reason ("rx-err") and nothing was waited for.
  const auto completions = Bench.Texts(11);
  const auto received = Bench.Texts(14);
  ASSERT_EQ(received.size(), receivedBefore + 1);
  const std::string& outcome = received.back();
  if (outcome.rfind("rx[", 0) == 0) {
    ASSERT_EQ(completions.size(), before + 1);
    EXPECT_EQ(completions.back().rfind("@Dummy(ErrorCode: 1167,Count: 0,", 0), 0u)
        << completions.back();
  } else {
    EXPECT_NE(outcome.find("The device is not connected. (error 1167)"), std::string::npos) << outcome;
    EXPECT_EQ(completions.size(), before) << completions.back();
  }
}

}  // namespace
