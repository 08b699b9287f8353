// The update engine on the simulated bus and board, driven from the test's
// thread: what it sends, what it reports, and how each run ends.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <deque>
#include <mutex>
#include <thread>

#include "BslTestBench.h"
#include "SimBoard.h"
#include "SimBus.h"
#include "UpdateEngine.h"
#include "bsl_hid.h"

namespace {

using namespace update;
using namespace std::chrono_literals;
using TMemory = std::map<uint32_t, uint8_t>;

// Posted work runs when the engine pauses, on the engine's thread.
using bsltest::TPumpLoop;

class TRecordedEvents : public IUpdateEvents {
 public:
  void Log(int32_t, TMessageType, const std::string& AMessage, TColor AColor) override {
    Lines.push_back({AMessage, AColor});
  }
  void Progress(const TUpdateProgress& AProgress) override {
    if (AProgress.Done == 0 && AProgress.Total == 0 && AProgress.Line < 0) Stages.push_back(AProgress.Stage);
    if (AProgress.Line >= 0) ++LineReports;
  }
  void Ended(const TUpdateOutcome& AOutcome) override { Outcomes.push_back(AOutcome); }
  bool Logged(const std::string& AText) const {
    return std::any_of(Lines.begin(), Lines.end(), [&](const auto& l) { return l.first == AText; });
  }
  // The last line that begins with AText, or -1.
  int IndexOf(const std::string& AText) const {
    for (size_t i = Lines.size(); i-- > 0;)
      if (Lines[i].first.rfind(AText, 0) == 0) return static_cast<int>(i);
    return -1;
  }

  std::vector<std::pair<std::string, TColor>> Lines;
  std::vector<TUpdateStage> Stages;  // as each began
  std::vector<TUpdateOutcome> Outcomes;
  int LineReports = 0;
};

// One TI-TXT section of 16-byte lines, recorded in AMemory.
std::string Section(uint32_t AAddress, int ABytes, uint8_t ASeed, TMemory* AMemory = nullptr) {
  char text[16];
  std::snprintf(text, sizeof text, "@%04X\n", AAddress);
  std::string out = text;
  for (int i = 0; i < ABytes; ++i) {
    const auto b = static_cast<uint8_t>(ASeed + i * 7);
    if (AMemory != nullptr) (*AMemory)[AAddress + static_cast<uint32_t>(i)] = b;
    std::snprintf(text, sizeof text, "%02X", b);
    out += text;
    out += (i % 16 == 15 || i == ABytes - 1) ? "\n" : " ";
  }
  return out;
}

const std::string kLoader = Section(0x2500, 64, 0x11) + "#2500\nq\n";

class UpdateEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hid::SetEventLoop(&Loop);
    Controller = std::make_shared<TJvHidDeviceController>(nullptr, &Bus);
    Controller->SetOnDeviceChange([](TJvHidDeviceController*) {});
    Ports = std::make_shared<TBoardPorts>(Controller);
    // One folder per test: ctest runs the tests as parallel processes, in
    // which the fixture may well sit at the same address.
    Folder = std::filesystem::temp_directory_path() /
             (std::string("update_engine_") +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(Folder);
    Options.LoaderFile = Write("loader.txt", kLoader);
    Options.FirmwareFile = Write("fw.txt", Firmware(&Expected));
    Options.Settings = {u"internet", u"user", u"40817"};
    // A clock that each pause moves on at once; the board's own timers run
    // on the real clock, so each pause also lets a little real time pass.
    Options.Timing.Now = [this] { return std::chrono::steady_clock::time_point(Clock.load() * 1ms); };
    Options.Timing.Sleep = [this](std::chrono::milliseconds d) {
      if (d == 500ms) ++Polls;
      Clock += d.count();
      Loop.Pump();
      std::this_thread::sleep_for(2ms);
      Loop.Pump();
    };
  }
  void TearDown() override {
    Ports.reset();
    Controller.reset();
    Board.reset();
    hid::SetEventLoop(nullptr);
    std::filesystem::remove_all(Folder);
  }

  static std::string Firmware(TMemory* AMemory) {
    return Section(0x4400, 160, 0x31, AMemory) + "SET\n" + Section(0xFFE0, 32, 0x80, AMemory) + "q\n";
  }
  std::string Write(const std::string& AName, const std::string& AText) {
    std::ofstream(Folder / AName, std::ios::binary) << AText;
    return (Folder / AName).string();
  }
  // The board with the option words of KESTROVA_SIM ("return-delay=20").
  void Plug(const std::vector<std::string>& AOptions) {
    Board = sim::MakeSimBoard(AOptions);
    Board->PlugInto(Bus);
    Loop.Pump();
  }
  TUpdateOutcome Run() {
    Engine = std::make_shared<TUpdateEngine>(Ports, Events, Options);
    return Engine->Run();
  }
  std::vector<uint8_t> Flash(uint32_t AFrom, uint32_t ATo) { return Board->ReadMemory(AFrom, ATo - AFrom); }

  TPumpLoop Loop;
  sim::TSimBus Bus;
  std::shared_ptr<TJvHidDeviceController> Controller;
  std::shared_ptr<TBoardPorts> Ports;
  std::shared_ptr<sim::TSimBoard> Board;
  std::shared_ptr<TRecordedEvents> Events = std::make_shared<TRecordedEvents>();
  std::shared_ptr<TUpdateEngine> Engine;
  TUpdateOptions Options;
  TMemory Expected;
  std::filesystem::path Folder;
  std::atomic<int64_t> Clock{0};
  int Polls = 0;
};

TEST_F(UpdateEngineTest, SuccessWritesVerifiesAndReportsEveryStep) {
  Plug({"return-delay=20", "die=0012A7F3-0021-0C04"});
  const TUpdateOutcome outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::Success) << outcome.Text;
  EXPECT_TRUE(outcome.Verified);
  EXPECT_EQ(outcome.BoardId, "0012A7F3-0021-0C04");
  EXPECT_TRUE(Events->Logged("Board ID: 0012A7F3-0021-0C04"));
  using S = TUpdateStage;
  EXPECT_EQ(Events->Stages, (std::vector<TUpdateStage>{S::Images, S::Connect, S::Unlock, S::Loader, S::Wait,
                                                       S::Identify, S::Firmware, S::Verify, S::Done}));
  EXPECT_EQ(Events->LineReports, 7 + 16) << "every line of both images, none left out";
  ASSERT_EQ(Events->Outcomes.size(), 1u);
  EXPECT_EQ(Events->Outcomes[0].Result, TUpdateResult::Success);
  EXPECT_TRUE(Events->Outcomes[0].Verified);

  // Log order: settings, the application's end line, verification, success.
  const int settings = Events->IndexOf("WRITE DATA [0xFE52]: 40817");
  const int complete = Events->IndexOf("Firmware update complete");
  const int verify = Events->IndexOf("VERIFY ");
  const int success = Events->IndexOf("Firmware & Settings were sucesfully uploaded!");
  EXPECT_TRUE(settings >= 0 && settings < complete && complete < verify && verify < success);
  int verifyLines = 0;
  for (const auto& [text, color] : Events->Lines)
    if (text.rfind("VERIFY ", 0) == 0) {
      ++verifyLines;
      EXPECT_EQ(color, clGrayText) << text;
    }
  EXPECT_EQ(verifyLines, 3);  // 0x4400.., the settings block, the vectors
  EXPECT_EQ(Events->Lines.front().first, "Flash thread - Start");
  EXPECT_EQ(Events->Lines.back().first, "Flash thread - End");

  for (const auto& [address, byte] : Expected) ASSERT_EQ(Flash(address, address + 1)[0], byte);
  const std::vector<uint8_t> apn = Flash(0xFE00, 0xFE29);
  EXPECT_EQ(apn[0], 8);
  EXPECT_EQ(std::string(apn.begin() + 1, apn.begin() + 9), "internet");
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);
}

// The system tells of the returning board once; when its interface cannot
// be opened at that moment, the wait's own passes find it.
TEST_F(UpdateEngineTest, BoardWhoseFirstOpenFailsIsFoundByTheNextPass) {
  Plug({"return-delay=100", "first-open-fails"});
  const TUpdateOutcome outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::Success) << outcome.Text;
  for (const auto& [address, byte] : Expected) ASSERT_EQ(Flash(address, address + 1)[0], byte);
}

// Identical boards are told apart by their ports: the board that comes
// back under the RAM loader is the one at the port that left, never
// another board that was plugged in meanwhile under its resident loader.
TEST_F(UpdateEngineTest, TheBoardTakenBackIsTheOneAtThePortThatLeft) {
  sim::TSimBoardOptions held;
  held.HoldReturn = true;
  held.Port = "1-1.1";
  Board = std::make_shared<sim::TSimBoard>(held);
  Board->PlugInto(Bus);
  Loop.Pump();
  auto other = sim::MakeSimBoard({"port=1-1.2"});
  auto sleep = Options.Timing.Sleep;
  Options.Timing.Sleep = [&](std::chrono::milliseconds d) {
    if (Board->AwaitingReturn() && other->ReportsReceived() == 0 && Polls == 2) {
      other->PlugInto(Bus);  // stays under its resident loader, locked
      Loop.Pump();
    }
    if (Board->AwaitingReturn() && Polls == 4) Board->Return();
    sleep(d);
  };
  const TUpdateOutcome outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::Success) << outcome.Text;
  EXPECT_EQ(outcome.Port, "1-1.1");
  EXPECT_EQ(other->ReportsReceived(), 0u);
  for (const auto& [address, byte] : Expected) ASSERT_EQ(Flash(address, address + 1)[0], byte);
}

// With more than one board there and no port chosen, nothing is sent to
// any of them; a port chooses one and leaves the other alone.
TEST_F(UpdateEngineTest, SeveralBoardsAreRefusedUnlessAPortChoosesOne) {
  Plug({"port=1-1.1", "return-delay=10"});
  auto other = sim::MakeSimBoard({"port=1-1.2", "return-delay=10"});
  other->PlugInto(Bus);
  Loop.Pump();
  TUpdateOutcome outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::SeveralBoards);
  EXPECT_EQ(outcome.Text, "2 boards are connected under their loader (1-1.1 and 1-1.2), and the update takes one board");
  EXPECT_EQ(outcome.Cause.Ports, (std::vector<std::string>{"1-1.1", "1-1.2"}));
  EXPECT_EQ(Board->ReportsReceived() + other->ReportsReceived(), 0u);
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);

  Options.Port = "1-1.2";
  outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::Success) << outcome.Text;
  EXPECT_EQ(outcome.Port, "1-1.2");
  EXPECT_EQ(Board->ReportsReceived(), 0u);
  EXPECT_EQ(other->ReadMemory(0x4400, 1)[0], Expected[0x4400]);
}

TEST_F(UpdateEngineTest, RefusedImageSendsNothing) {
  Plug({});
  Options.FirmwareFile = Write("fw.txt", "@4400\n31 40 0044\nq\n");
  const TUpdateOutcome outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::BadImage);
  EXPECT_EQ(outcome.Stage, TUpdateStage::Images);
  EXPECT_EQ(Board->ReportsReceived(), 0u);
  EXPECT_NE(outcome.Text.find("fw.txt"), std::string::npos);
  EXPECT_NE(outcome.Text.find("Line 2"), std::string::npos);
  ASSERT_EQ(Events->Outcomes.size(), 1u);
  EXPECT_EQ(Events->Outcomes[0].Text, outcome.Text);
  EXPECT_EQ(Events->Stages, std::vector<TUpdateStage>{TUpdateStage::Images});
}

TEST_F(UpdateEngineTest, ImagesReadOnceAreUsedAsTheyAreForManyBoards) {
  auto loader = std::make_shared<TTiTxtImage>(ReadTiTxtImage(Options.LoaderFile, TTiTxtImageKind::Loader));
  auto firmware =
      std::make_shared<TTiTxtImage>(ReadTiTxtImage(Options.FirmwareFile, TTiTxtImageKind::Application));
  std::filesystem::remove(Options.LoaderFile);
  std::filesystem::remove(Options.FirmwareFile);
  Options.Loader = loader;
  Options.Firmware = firmware;
  for (int board = 0; board < 2; ++board) {
    Plug({"return-delay=10"});
    EXPECT_EQ(Run().Result, TUpdateResult::Success) << board;
    Bus.Unplug(Board.get());
    Loop.Pump();
  }
}

TEST_F(UpdateEngineTest, EachWayOfFailingHasItsResult) {
  {
    SCOPED_TRACE("no board");
    EXPECT_EQ(Run().Result, TUpdateResult::NoBoard);
    EXPECT_EQ(Events->Outcomes.back().Stage, TUpdateStage::Connect);
  }
  {
    SCOPED_TRACE("password refused");
    Plug({"refuse-password"});
    const TUpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.Result, TUpdateResult::PasswordRefused);
    EXPECT_EQ(outcome.Stage, TUpdateStage::Unlock);
    Bus.Unplug(Board.get());
  }
  {
    SCOPED_TRACE("board not back");
    Plug({"no-return"});
    Polls = 0;
    const TUpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.Result, TUpdateResult::BoardNotBack);
    EXPECT_EQ(outcome.Stage, TUpdateStage::Wait);
    EXPECT_EQ(Polls, 120);
  }
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);
}

TEST_F(UpdateEngineTest, BoardThatCannotBeOpenedIsToldAndGetsNothing) {
  Plug({});
  Options.CanOpen = [](TJvHidDevice*, std::string& AWhy) {
    AWhy = "/dev/hidraw7: permission denied";
    return false;
  };
  const TUpdateOutcome outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::CannotOpen);
  EXPECT_EQ(outcome.Text, "/dev/hidraw7: permission denied");
  EXPECT_EQ(Board->ReportsReceived(), 0u);
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);
}

// A report lost on the bus anywhere in what stage 2 sends, the settings
// records included, is found by verification.
TEST_F(UpdateEngineTest, LostWriteIsFoundWhereverItLands) {
  // Fast writes of stage 2: 10 code lines, 3 settings records, 2 vector lines.
  for (int lost : {1, 10, 11, 13, 15}) {
    SCOPED_TRACE(lost);
    Plug({"return-delay=10", "lose-write=" + std::to_string(lost)});
    Events = std::make_shared<TRecordedEvents>();
    const TUpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.Result, TUpdateResult::VerifyFailed);
    EXPECT_EQ(outcome.Stage, TUpdateStage::Verify);
    EXPECT_FALSE(Events->Logged("Firmware & Settings were sucesfully uploaded!"));
    EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);
    Bus.Unplug(Board.get());
    Loop.Pump();
  }
}

TEST_F(UpdateEngineTest, LoaderThatCannotCheckMemoryIsWrittenButNotVerified) {
  Plug({"return-delay=10", "unknown-command=16", "unknown-command=18"});
  const TUpdateOutcome outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::NotVerified);
  EXPECT_FALSE(outcome.Verified);
  EXPECT_EQ(outcome.BoardId, "");  // it cannot read the die record either
  EXPECT_TRUE(Events->Logged("Firmware & Settings were sucesfully uploaded!"));
}

TEST_F(UpdateEngineTest, AnyThrownObjectIsLoggedAndReleasesTheBoard) {
  Plug({"return-delay=10"});
  Options.Timing.Sleep = [](std::chrono::milliseconds) { throw 42; };
  TUpdateOutcome outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::Error);
  EXPECT_TRUE(Events->Logged("Flash thread - Exception: unknown error"));
  EXPECT_EQ(Events->Lines.back().first, "Flash thread - End");
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);

  Options.Timing.Sleep = [](std::chrono::milliseconds) { throw std::runtime_error("clock gone"); };
  outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::Error);
  EXPECT_EQ(outcome.Text, "clock gone");
  EXPECT_TRUE(Events->Logged("Flash thread - Exception: clock gone"));
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);
}

TEST_F(UpdateEngineTest, CancelDuringTheWaitEndsAtTheNextPause) {
  Plug({"no-return"});
  auto sleep = Options.Timing.Sleep;
  Options.Timing.Sleep = [this, sleep](std::chrono::milliseconds d) {
    if (Polls == 3) Engine->Cancel();
    sleep(d);
  };
  const TUpdateOutcome outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::Cancelled);
  EXPECT_LE(Polls, 4);
  EXPECT_EQ(Controller->NumCheckedOutDevices(), 0);
  EXPECT_FALSE(Events->Logged("Flash thread - Exception: unknown error"));
}

// A cancel ends a wait for the loader's answer within a slice of it (the
// console's close leaves no time for the whole second), as cancelled.
TEST_F(UpdateEngineTest, CancelEndsTheWaitForAnAnswer) {
  Plug({"no-answer"});
  Options.AnswerTimeoutMs = 5000;
  Engine = std::make_shared<TUpdateEngine>(Ports, Events, Options);
  std::thread cancel([this] {
    std::this_thread::sleep_for(200ms);
    Engine->Cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  const TUpdateOutcome outcome = Engine->Run();
  cancel.join();
  EXPECT_EQ(outcome.Result, TUpdateResult::Cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(UpdateEngineTest, WithoutVerificationNothingIsCompared) {
  Plug({"return-delay=10"});
  Options.Verify = false;
  const TUpdateOutcome outcome = Run();
  EXPECT_EQ(outcome.Result, TUpdateResult::NotVerified);
  EXPECT_FALSE(outcome.Verified);
  EXPECT_EQ(Events->IndexOf("VERIFY "), -1);
}

}  // namespace
