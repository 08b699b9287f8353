// kestrova-flash on the simulated bus, in process: a complete update (line
// by line and --fast) leaves the images on the board; every kind of failure
// ends with its own exit code and one line on standard error; --repeat
// updates boards plugged one after another and counts them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "CliTestImages.h"
#include "FlashRunner.h"
#include "GivenSerials.h"
#include "Pause.h"
#include "Sha256.h"
#include "SimBoard.h"
#include "SimBus.h"
#include "SimDevices.h"
#include "TiTxtImage.h"

using namespace std::chrono_literals;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Output written from the runner's two threads, read by the test.
class TSyncText : public std::streambuf {
 public:
  std::string Text() {
    std::lock_guard<std::mutex> lock(FLock);
    return FText;
  }

 protected:
  int overflow(int AChar) override {
    std::lock_guard<std::mutex> lock(FLock);
    if (AChar != EOF) FText += static_cast<char>(AChar);
    return AChar;
  }
  std::streamsize xsputn(const char* AText, std::streamsize ACount) override {
    std::lock_guard<std::mutex> lock(FLock);
    FText.append(AText, static_cast<size_t>(ACount));
    return ACount;
  }

 private:
  std::mutex FLock;
  std::string FText;
};

// A minute of waiting that passes in a moment.
update::TUpdateTiming VirtualTime() {
  auto now = std::make_shared<std::atomic<int64_t>>(0);
  update::TUpdateTiming timing;
  timing.Now = [now] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(now->load())); };
  timing.Sleep = [now](std::chrono::milliseconds d) {
    now->fetch_add(d.count());
    std::this_thread::sleep_for(1ms);
  };
  return timing;
}

class FlashRunnerTest : public ::testing::Test {
 protected:
  std::shared_ptr<sim::TSimBoard> Board(std::vector<std::string> AOptions = {}) {
    AOptions.push_back("return-delay=100");
    return sim::MakeSimBoard(AOptions);
  }
  std::shared_ptr<sim::TSimBoard> Plug(std::vector<std::string> AOptions = {}) {
    auto board = Board(std::move(AOptions));
    board->PlugInto(Bus);
    return board;
  }
  TCliOptions Options(std::vector<std::string> AArgs) {
    AArgs.insert(AArgs.end(), {"--loader", Images.File("kestrova.1.ldr.txt"), "--firmware",
                               Images.File("kestrova.2.fw.txt")});
    return ParseCliOptions(AArgs);
  }
  TExitCode Run(std::vector<std::string> AArgs = {}, bool AVirtualTime = false) {
    TFlashRunner runner(Options(std::move(AArgs)), {OutStream, ErrStream, false}, &Bus);
    if (AVirtualTime) runner.SetTiming(VirtualTime());
    return runner.Run();
  }
  // The board holds the application image and the settings records.
  void ExpectFirmwareOn(const sim::TSimBoard& ABoard, const std::u16string& AApn = u"internet") {
    const TTiTxtImage image = ReadTiTxtImage(Images.File("kestrova.2.fw.txt"), TTiTxtImageKind::Application);
    for (const TTiTxtRange& range : image.Ranges())
      EXPECT_EQ(ABoard.ReadMemory(range.Address, range.Bytes.size()), range.Bytes) << range.Address;
    std::vector<uint8_t> record(41, 0);
    record[0] = static_cast<uint8_t>(AApn.size());
    for (size_t i = 0; i < AApn.size(); ++i) record[i + 1] = static_cast<uint8_t>(AApn[i]);
    EXPECT_EQ(ABoard.ReadMemory(0xFE00, 41), record);
  }
  // Exactly one line on standard error, ending with the exit code.
  void ExpectOneErrorLine(TExitCode ACode, const std::string& AFragment) {
    const std::string err = Err.Text();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_THAT(err, EndsWith("(exit code " + std::to_string(static_cast<int>(ACode)) + ")\n"));
    EXPECT_THAT(err, HasSubstr(AFragment));
  }
  bool WaitForOutput(const std::string& AText, std::chrono::seconds ALimit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + ALimit;
    while (Out.Text().find(AText) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  sim::TSimBus Bus;  // first: outlives every board's trip and the runner
  clitest::TImageFolder Images;
  TSyncText Out, Err;
  std::ostream OutStream{&Out}, ErrStream{&Err};
};

}  // namespace

TEST_F(FlashRunnerTest, LineByLineUpdateLeavesTheImagesOnTheBoard) {
  auto board = Plug();
  EXPECT_EQ(Run({"--apn", "web"}), TExitCode::Ok) << Err.Text();
  ExpectFirmwareOn(*board, u"web");
  EXPECT_THAT(Out.Text(), HasSubstr("3. Upload new firmware & settings\n"));
  EXPECT_THAT(Out.Text(), HasSubstr("firmware: 100% (3232 of 3232 bytes)\n"));
  EXPECT_THAT(Out.Text(), HasSubstr("Board updated and verified in"));
  EXPECT_EQ(Err.Text(), "");
}

// Every pause of an update is a fine one: on Windows a high-resolution
// timer, or on a Windows without one the system timer raised for the
// update; never the system's coarse tick. Under Wine the lengths cannot
// tell these apart (its timers are Linux's), the pause counts can.
TEST_F(FlashRunnerTest, UpdatePausesAreFineOnes) {
  using pacing::TPauseClock;
  const std::pair<bool, TPauseClock> rows[] = {
      {true, TPauseClock::KESTROVA_UPDATE_PAUSES},
      {false, TPauseClock::KESTROVA_UPDATE_PAUSES_WITHOUT_HIGH_RESOLUTION}};
  for (const auto& [allowed, expected] : rows) {
    pacing::AllowHighResolutionTimer(allowed);
    std::vector<uint64_t> before;
    for (int i = 0; i < pacing::kPauseClocks; ++i) before.push_back(pacing::PauseCount(TPauseClock(i)));
    auto board = Plug();
    EXPECT_EQ(Run(), TExitCode::Ok) << Err.Text();
    Bus.Unplug(board.get());
    for (int i = 0; i < pacing::kPauseClocks; ++i) {
      const uint64_t made = pacing::PauseCount(TPauseClock(i)) - before[static_cast<size_t>(i)];
      if (TPauseClock(i) == expected) {
        // Two after the passwords, one before each settings record, and the wait for the board.
        EXPECT_GE(made, 6u) << pacing::ClockName(expected);
      } else {
        EXPECT_EQ(made, 0u) << pacing::ClockName(TPauseClock(i)) << ", high-resolution timer allowed: " << allowed;
      }
    }
  }
  pacing::AllowHighResolutionTimer(true);
}

TEST_F(FlashRunnerTest, FastUpdateSendsFullReportsAndIsVerified) {
  // A device that cannot be opened, ahead of the board, is logged and left out.
  const uint32_t broken = Bus.Plug(sim::MakeSimUnopenableDevice());
  auto board = Plug();
  const std::string log = Images.File("run.log");
  EXPECT_EQ(Run({"--fast", "--log", log}), TExitCode::Ok) << Err.Text();
  ExpectFirmwareOn(*board);
  std::ifstream in(log);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_THAT(text, HasSubstr("] HID device sim:hid#" + std::to_string(broken) +
                              " left out: Device cannot be opened: The system cannot find the file specified. (error 2)\n"));
  // 3200 bytes from 0x4400 and 32 vector bytes: 56 + 1 reports; the loader's 1024: 18.
  EXPECT_THAT(text, HasSubstr("3232 bytes in 57 fast writes."));
  EXPECT_THAT(text, HasSubstr("1024 bytes in 18 fast writes."));
  EXPECT_THAT(text, HasSubstr("] Firmware & Settings were sucesfully uploaded!\n"));
}

TEST_F(FlashRunnerTest, QuietPrintsOnlyTheResult) {
  Plug();
  EXPECT_EQ(Run({"--quiet"}), TExitCode::Ok);
  EXPECT_TRUE(std::regex_match(Out.Text(), std::regex("Board updated and verified in [0-9.]+ s\\.\n"))) << Out.Text();
  EXPECT_EQ(Err.Text(), "");
}

TEST_F(FlashRunnerTest, RefusedImageTouchesNoBoard) {
  auto board = Plug();
  Images.Write("kestrova.2.fw.txt", "@4400\n31 40 0\nq\n");
  EXPECT_EQ(Run(), TExitCode::BadInput);
  ExpectOneErrorLine(TExitCode::BadInput, "kestrova.2.fw.txt");
  EXPECT_THAT(Err.Text(), HasSubstr("Line 2: data line"));
  EXPECT_EQ(board->ReportsReceived(), 0u);
}

TEST_F(FlashRunnerTest, BadSettingsAreRefusedBeforeTheBoard) {
  auto board = Plug();
  EXPECT_EQ(Run({"--password", std::string(41, 'x')}), TExitCode::BadInput);
  ExpectOneErrorLine(TExitCode::BadInput, "--password: at most 40 characters");
  EXPECT_EQ(board->ReportsReceived(), 0u);
}

TEST_F(FlashRunnerTest, ListNamesEveryDeviceAndTheOneLeftOut) {
  Bus.Plug(sim::MakeSimKeyboard());
  const uint32_t broken = Bus.Plug(sim::MakeSimUnidentifiableDevice());
  Plug();
  TFlashRunner runner(ParseCliOptions({"--list"}), {OutStream, ErrStream, false}, &Bus);
  EXPECT_EQ(runner.Run(), TExitCode::Ok);
  const std::string out = Out.Text();
  EXPECT_THAT(out, HasSubstr("  port 1-3  can be opened  <- board under its loader\n"));
  EXPECT_THAT(out, HasSubstr("????:????  sim:hid#" + std::to_string(broken) +
                             "  left out: Device cannot be identified\n"));
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3) << out;
}

TEST_F(FlashRunnerTest, NoBoard) {
  EXPECT_EQ(Run(), TExitCode::NoBoard);
  ExpectOneErrorLine(TExitCode::NoBoard, "press its button");
}

TEST_F(FlashRunnerTest, BoardThatCannotBeOpened) {
  auto board = Board();
  board->CanOpenReadWrite = false;
  board->PlugInto(Bus);
  EXPECT_EQ(Run(), TExitCode::CannotOpen);
  ExpectOneErrorLine(TExitCode::CannotOpen, "cannot be opened for reading and writing");
  EXPECT_EQ(board->ReportsReceived(), 0u);
}

// Three words that stand twice in a line: a phrase said twice.
std::string RepeatedPhrase(const std::string& ALine) {
  std::vector<std::string> words;
  std::string word;
  for (char c : ALine + " ") {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!word.empty()) {
      words.push_back(word);
      word.clear();
    }
  }
  std::set<std::string> seen;
  for (size_t i = 0; i + 3 <= words.size(); ++i) {
    const std::string phrase = words[i] + " " + words[i + 1] + " " + words[i + 2];
    if (!seen.insert(phrase).second) return phrase;
  }
  return {};
}

// Every way of failing ends with its own cause on one line, with its exit
// code; only a board that refused the password is said to have refused it.
TEST_F(FlashRunnerTest, EachFailureEndsWithItsCauseOnOneLine) {
  struct TRow {
    std::vector<std::string> Board;
    const char* Mode;
    TExitCode Code;
    const char* Cause;
  };
  const TRow rows[] = {
      {{"refuse-password"}, "", TExitCode::PasswordRefused, "The board refused the password"},
      {{"no-answer"}, "", TExitCode::NoAnswer, "did not answer the unlock request within 1 s"},
      {{"answer-delay=1500"}, "", TExitCode::NoAnswer, "answered the unlock request only after 1."},
      {{"short-write=10"}, "", TExitCode::WriteFailed, "Only 10 of the 64 bytes of the unlock request reached"},
      {{"garble-answer=2"}, "", TExitCode::NoAnswer, "bytes that are no loader answer (3F 02 61 00)"},
      // Stage 1: 2 passwords, 64 loader lines, Load PC; then the version query and the board ID.
      {{"drop-after=40"}, "", TExitCode::BoardLeft, "left the bus while the loader was written, after 608 of 1024"},
      {{"drop-after=100"}, "", TExitCode::BoardLeft, "left the bus while the firmware was written, after 496 of 3355"},
      {{"drop-after=68"}, "", TExitCode::BoardLeft, "left the bus right after it came back"},
      {{"no-return"}, "", TExitCode::BoardNotBack, "did not come back under its new loader within 60 s"},
      {{"return-as=resident"}, "", TExitCode::BoardNotBack, "came back under its locked resident loader"},
      {{"lose-write=5"}, "", TExitCode::VerifyFailed, "Verification found a difference at 04400h-"},
      {{"lose-write=5"}, "--fast", TExitCode::VerifyFailed, "Verification found a difference at 04400h-"},
      {{"unknown-command=16", "unknown-command=18"}, "", TExitCode::NotVerified, "so the firmware was not verified"},
      {{"unknown-command=16", "unknown-command=18"}, "--fast", TExitCode::VerifyFailed, "nothing confirms"},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Board.front() + " " + row.Mode);
    sim::TSimBus bus;
    auto board = Board(row.Board);
    board->PlugInto(bus);
    TSyncText err;
    std::ostream errStream(&err);
    std::vector<std::string> args;
    if (*row.Mode) args.push_back(row.Mode);
    TFlashRunner runner(Options(args), {OutStream, errStream, false}, &bus);
    runner.SetTiming(VirtualTime());
    EXPECT_EQ(runner.Run(), row.Code);
    const std::string line = err.Text();
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_THAT(line, HasSubstr(row.Cause));
    EXPECT_THAT(line, EndsWith("(exit code " + std::to_string(static_cast<int>(row.Code)) + ")\n"));
    EXPECT_EQ(RepeatedPhrase(line), "") << line;
    if (row.Code != TExitCode::PasswordRefused) {
      EXPECT_THAT(line, Not(HasSubstr("password"))) << line;
    }
  }
}

TEST_F(FlashRunnerTest, InterruptedWhileWaitingForTheBoard) {
  auto board = Plug({"return-delay=400"});
  TFlashRunner runner(Options({}), {OutStream, ErrStream, false}, &Bus);
  std::thread stop([&] {
    WaitForOutput("2. Wait for device");
    runner.Interrupt();
  });
  EXPECT_EQ(runner.Run(), TExitCode::Interrupted);
  stop.join();
  ExpectOneErrorLine(TExitCode::Interrupted, "interrupted by Ctrl-C during the update");
  while (board->State() == sim::TBoardState::Away) std::this_thread::sleep_for(10ms);  // trip over
}

// ---- production mode ----

TEST_F(FlashRunnerTest, RepeatUpdatesBoardsPluggedOneAfterAnother) {
  TFlashRunner runner(Options({"--repeat", "--fast"}), {OutStream, ErrStream, false}, &Bus);
  TExitCode code = TExitCode::Error;
  std::thread run([&] { code = runner.Run(); });
  std::vector<std::shared_ptr<sim::TSimBoard>> boards;
  for (int i = 1; i <= 3; ++i) {
    boards.push_back(Plug());
    ASSERT_TRUE(WaitForOutput("board " + std::to_string(i) + ": ")) << Out.Text();
    // The first board is unplugged; the second stays while the third comes.
    if (i == 1) Bus.Unplug(boards.back().get());
  }
  runner.Interrupt();
  run.join();
  EXPECT_EQ(code, TExitCode::Ok) << Err.Text();
  const std::string out = Out.Text();
  for (int i = 1; i <= 3; ++i) EXPECT_THAT(out, HasSubstr("] board " + std::to_string(i) + ": ok in "));
  EXPECT_THAT(out, HasSubstr("Totals: 3 boards, 3 updated, 0 failed.\n"));
  for (const auto& board : boards) ExpectFirmwareOn(*board);
  EXPECT_EQ(Err.Text(), "");
}

TEST_F(FlashRunnerTest, RepeatTakesTheNextBoardUnderTheNumberOfTheLastOne) {
  // Windows hands a device instance its old number when the same instance
  // comes back: the same board again, or any board without a serial
  // number on the same port.
  TFlashRunner runner(Options({"--repeat", "--fast"}), {OutStream, ErrStream, false}, &Bus);
  TExitCode code = TExitCode::Error;
  std::thread run([&] { code = runner.Run(); });
  auto first = Plug();
  ASSERT_TRUE(WaitForOutput("board 1: ")) << Out.Text();
  const uint32_t number = Bus.DeviceID(first.get());
  const int passes = Bus.EnumerationCount();
  Bus.Unplug(first.get());
  while (Bus.EnumerationCount() == passes) std::this_thread::sleep_for(5ms);  // a pass finds it gone
  auto second = Board();
  Bus.PlugAs(second, number);
  const bool taken = WaitForOutput("board 2: ", 10s);
  runner.Interrupt();
  run.join();
  ASSERT_TRUE(taken) << Out.Text();
  EXPECT_EQ(code, TExitCode::Ok) << Err.Text();
  EXPECT_THAT(Out.Text(), HasSubstr("Totals: 2 boards, 2 updated, 0 failed.\n"));
  ExpectFirmwareOn(*second);
}

TEST_F(FlashRunnerTest, RepeatEndsNonZeroWhenABoardFailed) {
  TFlashRunner runner(Options({"--repeat"}), {OutStream, ErrStream, false}, &Bus);
  TExitCode code = TExitCode::Error;
  std::thread run([&] { code = runner.Run(); });
  const std::vector<std::vector<std::string>> options = {{}, {"refuse-password"}, {}};
  for (size_t i = 0; i < options.size(); ++i) {
    auto board = Plug(options[i]);
    ASSERT_TRUE(WaitForOutput("board " + std::to_string(i + 1) + ": ")) << Out.Text();
    Bus.Unplug(board.get());
  }
  runner.Interrupt();
  run.join();
  EXPECT_EQ(code, TExitCode::SomeFailed);
  EXPECT_THAT(Out.Text(), HasSubstr("board 2: FAILED (password refused)"));
  EXPECT_THAT(Out.Text(), HasSubstr("Totals: 3 boards, 2 updated, 1 failed.\n"));
  ExpectOneErrorLine(TExitCode::SomeFailed, "1 of 3 boards failed");
}

// ---- several boards ----

std::vector<std::string> FileLines(const std::string& AFile) {
  std::ifstream in(AFile);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A record line with every field, in order, of the right form.
const char* const kRecordLine =
    "\\{\"time\":\"20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]Z\","
    "\"port\":\"1-1\\.[1-8]\",\"board_id\":\"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}\","
    "\"result\":\"success\",\"exit_code\":0,\"stage\":\"done\",\"seconds\":[0-9]+\\.[0-9]{3},"
    "\"loader_sha256\":\"[0-9a-f]{64}\",\"firmware_sha256\":\"[0-9a-f]{64}\",\"verified\":true,"
    "\"apn\":\"internet\",\"login\":\"user\",\"serial\":\"\",\"station\":\"\",\"tool_version\":\"[0-9.]+\"\\}";

TEST_F(FlashRunnerTest, TwoBoardsWithoutAChoiceAreRefusedAndAPortChoosesOne) {
  auto first = Plug({"port=1-1.1"});
  auto second = Plug({"port=1-1.2"});
  EXPECT_EQ(Run({"--fast"}), TExitCode::SeveralBoards);
  ExpectOneErrorLine(TExitCode::SeveralBoards, "2 boards are connected under their loader (1-1.1 and 1-1.2)");
  EXPECT_EQ(first->ReportsReceived() + second->ReportsReceived(), 0u);

  EXPECT_EQ(Run({"--fast", "--port", "1-1.2"}), TExitCode::Ok) << Err.Text();
  EXPECT_EQ(first->ReportsReceived(), 0u);
  ExpectFirmwareOn(*second);
}

// Eight boards at once, each taken back at its own port: all written and
// verified, one record line each with its port and ID. The time against
// one board is printed (the benchmark measures it properly).
TEST_F(FlashRunnerTest, GangUpdatesEveryBoardAtOnceAndRecordsEach) {
  const auto timed = [this](std::vector<std::string> AArgs) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(std::move(AArgs)), TExitCode::Ok) << Err.Text();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  auto lone = Plug({"port=1-1.1", "frame-timed"});
  const double one = timed({"--gang", "--fast"});
  Bus.Unplug(lone.get());
  std::vector<std::shared_ptr<sim::TSimBoard>> boards;
  for (int i = 1; i <= 8; ++i) boards.push_back(Plug({"port=1-1." + std::to_string(i), "frame-timed"}));
  const std::string record = Images.File("r.jsonl");
  std::filesystem::remove(record);
  const double eight = timed({"--gang", "--fast", "--record", record});
  std::printf("[ figures  ] --gang --fast, frame-timed: 1 board %.2f s, 8 boards %.2f s (%.2f times)\n", one, eight,
              eight / one);

  for (const auto& board : boards) ExpectFirmwareOn(*board);
  EXPECT_THAT(Out.Text(), HasSubstr("\nTotals: 8 boards, 8 updated, 0 failed.\n"));
  const std::vector<std::string> lines = FileLines(record);
  ASSERT_EQ(lines.size(), 8u);
  std::set<std::string> ports, ids;
  for (const std::string& line : lines) {
    // gtest's own expressions on Windows know no brackets and no counts.
    EXPECT_TRUE(std::regex_match(line, std::regex(kRecordLine))) << line;
    ports.insert(line.substr(line.find("\"port\""), 17));
    ids.insert(line.substr(line.find("\"board_id\""), 30));
  }
  EXPECT_EQ(ports.size(), 8u);
  EXPECT_EQ(ids.size(), 8u);
}

// One board fails with its own cause; the others are not held up, and the
// last line names the one that failed with the command that retries it,
// quoted where a shell would take the port apart (Windows' ports).
TEST_F(FlashRunnerTest, GangBoardThatFailsIsNamedWithTheCommandThatRetriesIt) {
  const std::string failing = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(5)";
  std::vector<std::shared_ptr<sim::TSimBoard>> boards;
  for (int i = 1; i <= 8; ++i) {
    std::vector<std::string> options = {"port=" + (i == 5 ? failing : "1-1." + std::to_string(i)), "frame-timed"};
    if (i == 5) options.push_back("lose-write=5");
    boards.push_back(Plug(options));
  }
  EXPECT_EQ(Run({"--gang", "--fast"}), TExitCode::SomeFailed);
  EXPECT_THAT(Out.Text(), HasSubstr("\n" + failing + ": FAILED: Verification found a difference at 04400h-"));
  EXPECT_THAT(Out.Text(), HasSubstr("\nTotals: 8 boards, 7 updated, 1 failed.\n"));
  for (size_t i = 0; i < boards.size(); ++i)
    if (i != 4) ExpectFirmwareOn(*boards[i]);
  ExpectOneErrorLine(TExitCode::SomeFailed,
                     "1 of 8 boards failed: " + failing + "; to retry only them: kestrova-flash --gang --fast ");
  EXPECT_THAT(Err.Text(), EndsWith(" --port \"" + failing + "\" (exit code 9)\n"));
}

// Ctrl-C stops every board at its next pause, each is recorded as
// cancelled, and the run ends as an interrupted update does.
TEST_F(FlashRunnerTest, GangInterruptedStopsEveryBoard) {
  std::vector<std::shared_ptr<sim::TSimBoard>> boards;
  for (int i = 1; i <= 3; ++i) {
    boards.push_back(sim::MakeSimBoard({"port=1-1." + std::to_string(i), "return-delay=10000"}));
    boards.back()->PlugInto(Bus);
  }
  const std::string record = Images.File("r.jsonl");
  TFlashRunner runner(Options({"--gang", "--record", record}), {OutStream, ErrStream, false}, &Bus);
  std::thread stop([&] {
    for (int i = 1; i <= 3; ++i) WaitForOutput("1-1." + std::to_string(i) + ": 2. Wait for device");
    runner.Interrupt();
  });
  EXPECT_EQ(runner.Run(), TExitCode::Interrupted);
  stop.join();
  for (int i = 1; i <= 3; ++i) EXPECT_THAT(Out.Text(), HasSubstr("1-1." + std::to_string(i) + ": cancelled after "));
  ExpectOneErrorLine(TExitCode::Interrupted, "interrupted by Ctrl-C; not updated: 1-1.1, 1-1.2 and 1-1.3;");
  const std::vector<std::string> lines = FileLines(record);
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines) {
    EXPECT_THAT(line, HasSubstr("\"board_id\":\"\",\"result\":\"cancelled\",\"exit_code\":130,\"stage\":\"wait\""));
  }
  for (const auto& board : boards) board->Unplug();  // the returns under way end here
}

// With --repeat, a board connected while another one is under way starts
// at once, not after it.
TEST_F(FlashRunnerTest, GangRepeatStartsEachBoardAsItComes) {
  TFlashRunner runner(Options({"--gang", "--repeat", "--fast"}), {OutStream, ErrStream, false}, &Bus);
  TExitCode code = TExitCode::Error;
  std::thread run([&] { code = runner.Run(); });
  auto slow = sim::MakeSimBoard({"port=1-1.1", "return-delay=3000"});
  slow->PlugInto(Bus);
  ASSERT_TRUE(WaitForOutput("1-1.1: 2. Wait for device")) << Out.Text();
  auto quick = Plug({"port=1-1.2"});
  const bool quickFirst = WaitForOutput("1-1.2: ok in ") && Out.Text().find("1-1.1: ok in ") == std::string::npos;
  const bool slowDone = WaitForOutput("1-1.1: ok in ");
  runner.Interrupt();
  run.join();
  EXPECT_TRUE(quickFirst) << Out.Text();
  EXPECT_TRUE(slowDone) << Out.Text();
  EXPECT_EQ(code, TExitCode::Ok) << Err.Text();
  EXPECT_THAT(Out.Text(), HasSubstr("\nTotals: 2 boards, 2 updated, 0 failed.\n"));
  ExpectFirmwareOn(*slow);
  ExpectFirmwareOn(*quick);
}

// --json: standard output holds only events, each board one start and one
// end, what fails before any board one fatal event; the password never
// shows, neither as text nor as its record's bytes.
TEST_F(FlashRunnerTest, JsonStreamHoldsOnlyEvents) {
  struct TRow {
    std::vector<std::vector<std::string>> Boards;
    std::vector<std::string> Args;
    TExitCode Code;
    int Starts, Ends, Totals, Fatals, Devices;
    const char* Fragment;
  };
  const TRow rows[] = {
      {{{}}, {"--fast"}, TExitCode::Ok, 1, 1, 0, 0, 0, "\"event\":\"board\",\"port\":\"1-1\",\"board_id\":\"4B53"},
      {{{"port=1-1.1"}, {"port=1-1.2", "refuse-password"}, {"port=1-1.3"}}, {"--gang", "--fast"},
       TExitCode::SomeFailed, 3, 3, 1, 0, 0, "\"exit_code\":5,\"stage\":\"unlock\""},
      {{}, {}, TExitCode::NoBoard, 0, 0, 0, 1, 0, "\"event\":\"fatal\",\"message\":\"No board"},
      {{{}}, {"--login", std::string(41, 'x')}, TExitCode::BadInput, 0, 0, 0, 1, 0, "\"exit_code\":2}"},
      {{{}, {"port=2-4"}}, {"--list"}, TExitCode::Ok, 0, 0, 0, 0, 2, "\"port\":\"2-4\",\"can_open\":true"},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.Args));
    sim::TSimBus bus;
    std::vector<std::shared_ptr<sim::TSimBoard>> boards;
    for (const auto& options : row.Boards) boards.push_back(Board(options));
    for (const auto& board : boards) board->PlugInto(bus);
    TSyncText out, err;
    std::ostream outStream(&out), errStream(&err);
    std::vector<std::string> args = row.Args;
    args.push_back("--json");
    TFlashRunner runner(Options(args), {outStream, errStream, false}, &bus);
    EXPECT_EQ(runner.Run(), row.Code);
    const std::regex kEvent(R"re(\{"schema":1,"event":"(\w+)",.*\})re");
    std::map<std::string, int> events;
    std::istringstream lines(out.Text());
    for (std::string line; std::getline(lines, line);) {
      std::smatch event;
      ASSERT_TRUE(std::regex_match(line, event, kEvent)) << line;
      events[event[1]] += 1;
    }
    EXPECT_EQ(events["start"], row.Starts);
    EXPECT_EQ(events["end"], row.Ends);
    EXPECT_EQ(events["totals"], row.Totals);
    EXPECT_EQ(events["fatal"], row.Fatals);
    EXPECT_EQ(events["device"], row.Devices);
    EXPECT_THAT(out.Text(), HasSubstr(row.Fragment));
    EXPECT_THAT(out.Text(), Not(HasSubstr("40817")));
    EXPECT_THAT(out.Text(), Not(HasSubstr("05 34 30 38 31 37")));
    if (row.Fatals == 1) {
      EXPECT_THAT(err.Text(), HasSubstr("(exit code " + std::to_string(static_cast<int>(row.Code)) + ")"));
    }
  }
}

// ---- a station ----

// kestrova-flash --station: the boards at the listed ports only, each with
// the next serial in its record; a board without a serial, an image that is
// not the pinned one and a text the board cannot store each end as said,
// the last two before any board is touched.
TEST_F(FlashRunnerTest, StationRunsItsPortsWithPinnedImagesAndSerials) {
  const auto sha = [this](const char* AName) {
    std::ifstream in(Images.File(AName), std::ios::binary);
    return Sha256Hex(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  };
  const std::string pinnedFirmware = sha("kestrova.2.fw.txt");
  struct TRow {
    const char* Serials;
    const char* Apn;
    bool ChangeFirmware;
    TExitCode Code;
    std::string Says;  // on standard error ("" when it stays empty)
    std::vector<std::string> RecordedSerials;
  };
  TRow rows[] = {
      {" A\r\n\nB \n", "internet", false, TExitCode::Ok, "", {"A", "B"}},
      {"A\n", "internet", false, TExitCode::SomeFailed,
       "1 of 2 boards not updated, standard input ended before their serials: 1-1.2;", {"A"}},
      {"A\nB\n", "internet", true, TExitCode::BadInput, ", the station file's is " + pinnedFirmware, {}},
      {"A\nB\n", "\xC4\x8D", false, TExitCode::BadInput, "station.xml\", line 5, apn: the board stores only Latin-1", {}},
  };
#ifdef KESTROVA_NO_XML_FILES
  // A build without the XML parser runs no station: it says so, and no board hears a word.
  for (TRow& row : rows) {
    row.Code = TExitCode::BadInput;
    row.Says = "this build reads no XML files, so it runs no station";
    row.RecordedSerials.clear();
  }
#endif
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Serials);
    clitest::TImageFolder images;
    if (row.ChangeFirmware) images.Write("kestrova.2.fw.txt", "@4400\n31 40\nq\n");
    const std::string record = images.File("r.jsonl");
    images.Write("station.xml", "<station name=\"Bench \xC4\x8C\" serial=\"required\">\n"
                                "  <loader file=\"kestrova.1.ldr.txt\" sha256=\"" + sha("kestrova.1.ldr.txt") + "\"/>\n"
                                "  <firmware file=\"kestrova.2.fw.txt\" sha256=\"" + pinnedFirmware + "\"/>\n"
                                "  <ports><port path=\"1-1.1\" label=\"Slot 1\"/><port path=\"1-1.2\" label=\"Slot 2\"/></ports>\n"
                                "  <settings apn=\"" + row.Apn + "\" login=\"user\" password=\"40817\"/>\n"
                                "  <record file=\"r.jsonl\"/>\n</station>\n");
    sim::TSimBus bus;
    std::vector<std::shared_ptr<sim::TSimBoard>> boards;
    for (int i = 1; i <= 3; ++i) boards.push_back(Board({"port=1-1." + std::to_string(i)}));
    for (const auto& board : boards) board->PlugInto(bus);
    TSyncText err;
    std::ostream errStream(&err);
    TFlashRunner runner(ParseCliOptions({"--station", images.File("station.xml")}), {OutStream, errStream, false}, &bus);
    runner.SetSerials(std::make_unique<TGivenSerials>(row.Serials));
    EXPECT_EQ(runner.Run(), row.Code);
    if (row.Says.empty()) {
      EXPECT_EQ(err.Text(), "");
    } else {
      EXPECT_THAT(err.Text(), HasSubstr(row.Says));
    }
    EXPECT_EQ(boards[2]->ReportsReceived(), 0u) << "1-1.3 is no port of the station";
    if (row.RecordedSerials.empty()) {
      EXPECT_EQ(boards[0]->ReportsReceived() + boards[1]->ReportsReceived(), 0u);
    }
    const std::vector<std::string> lines = FileLines(record);
    ASSERT_EQ(lines.size(), row.RecordedSerials.size());
    // The boards take the serials in the order of the station's ports; they end in any order.
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string port = "\"port\":\"1-1." + std::to_string(i + 1) + "\"";
      const auto line = std::find_if(lines.begin(), lines.end(),
                                     [&](const std::string& ALine) { return ALine.find(port) != std::string::npos; });
      ASSERT_NE(line, lines.end()) << port;
      EXPECT_THAT(*line, HasSubstr("\"result\":\"success\""));
      EXPECT_THAT(*line, HasSubstr("\"serial\":\"" + row.RecordedSerials[i] + "\",\"station\":\"Bench \xC4\x8C\""));
      ExpectFirmwareOn(*boards[i]);
    }
  }
}

// A board whose fault shows once fails its first update and, still
// connected, passes the next one; without "once" it fails again. A write
// lost under the RAM loader leaves the board there: the next update loads
// the loader into RAM once more and starts it again.
TEST_F(FlashRunnerTest, FaultThatShowsOnceFailsOnlyTheFirstUpdate) {
  const std::pair<const char*, TExitCode> faults[] = {{"refuse-password", TExitCode::PasswordRefused},
                                                      {"no-answer", TExitCode::NoAnswer},
                                                      {"lose-write=5", TExitCode::VerifyFailed}};
  for (const auto& [fault, code] : faults) {
    for (const bool once : {true, false}) {
      SCOPED_TRACE(std::string(fault) + (once ? ":once" : ""));
      sim::TSimBus bus;
      std::vector<std::string> options = {fault};
      if (once) options.push_back("once");
      auto board = Board(options);
      board->PlugInto(bus);
      for (const TExitCode expected : {code, once ? TExitCode::Ok : code}) {
        TFlashRunner runner(Options({"--fast"}), {OutStream, ErrStream, false}, &bus);
        runner.SetTiming(VirtualTime());
        EXPECT_EQ(runner.Run(), expected);
      }
      if (once) ExpectFirmwareOn(*board);
    }
  }
}
