// The simulated board against the loader's documented behaviour: password
// check and erase, locked and oversize answers, the resident loader's
// limits, the trip to the RAM loader, flash semantics and fault switches.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "BoardId.h"
#include "BslTestBench.h"
#include "SimBoard.h"
#include "SimEnvironment.h"
#include "SimSessionControl.h"
#include "SimTimer.h"

using namespace bsltest;
using namespace std::chrono_literals;
using sim::TBoardState;
using sim::TSimBoard;

namespace {

constexpr uint32_t kReturnDelayMs = 50;  // short trips keep the tests quick
constexpr auto kReturnLimit = 3s;        // generous: only a hung board takes it all

std::vector<uint8_t> Message(uint8_t ACode) { return Report64({0x3F, 0x02, 0x3B, ACode}); }

class SimBoardTest : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> AOptions = {}) {
    AOptions.push_back("return-delay=" + std::to_string(kReturnDelayMs));
    Board = sim::MakeSimBoard(AOptions);
    FirstID = Board->PlugInto(Bench.Bus);
    ASSERT_TRUE(Bench.Attach());
    Bench.Bsl.SetAnswerTimeoutMs(500);
  }
  // Sends one report holding ACore and returns the answer (zeros: none).
  std::vector<uint8_t> Raw(const std::vector<uint8_t>& ACore, int ALengthByte = -1) {
    std::vector<uint8_t> report = {0x3F, static_cast<uint8_t>(ALengthByte < 0 ? ACore.size() : ALengthByte)};
    report.insert(report.end(), ACore.begin(), ACore.end());
    report.resize(64, 0xAC);
    TJvHidDevice* dev = Bench.Device;
    if (!dev->OpenFileEx(omhRead)) return {};
    dev->FlushQueue();
    uint32_t written = 0;
    if (!dev->WriteFile(report.data(), 64, written)) return {};
    std::vector<uint8_t> answer(64, 0);
    if (!dev->ReadFileEx(answer.data(), 64, nullptr)) return {};
    dev->WaitForRead(200);
    dev->CancelRead();
    return answer;
  }
  std::vector<uint8_t> Password(uint8_t AFill) {
    std::vector<uint8_t> core(33, AFill);
    core[0] = 0x11;
    return Raw(core);
  }
  // Wrong password (erases), then the erased board's password.
  void Unlock() {
    ASSERT_EQ(Password(0x00), Message(0x05));
    ASSERT_EQ(Password(0xFF), Message(0x00));
  }
  // A small loader image in RAM at 0x2500, started with the client's Load PC.
  void EnterRamLoader(int AStartLine = 0x2500) {
    Unlock();
    ASSERT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x2500, TBytes(40, 0x3C)));
    Bench.Bsl.cmd_LoadPC(AStartLine);
  }

  TBench Bench;
  std::shared_ptr<TSimBoard> Board;
  uint32_t FirstID = 0;
};

TEST_F(SimBoardTest, WrongPasswordErasesMainFlashButNotInformationMemory) {
  Start();
  Board->Preload(0x243F0, {0x01, 0x02});
  const auto info = Board->ReadMemory(0x1800, 0x200);
  ASSERT_NE(info, std::vector<uint8_t>(0x200, 0xFF));
  EXPECT_EQ(Password(0xFF), Message(0x05)) << "the old firmware's vectors are not erased";
  EXPECT_EQ(Board->ReadMemory(0x4400, 0x20000), std::vector<uint8_t>(0x20000, 0xFF));
  EXPECT_EQ(Board->ReadMemory(0x1800, 0x200), info);
  EXPECT_EQ(Password(0xFF), Message(0x00));
  EXPECT_TRUE(Board->Unlocked());
}

TEST_F(SimBoardTest, RightPasswordOfOldFirmwareUnlocksWithoutErasing) {
  Start();
  const auto vectors = Board->ReadMemory(0xFFE0, 32);
  std::vector<uint8_t> core = {0x11};
  core.insert(core.end(), vectors.begin(), vectors.end());
  EXPECT_EQ(Raw(core), Message(0x00));
  EXPECT_EQ(Board->ReadMemory(0xFFE0, 32), vectors);
}

TEST_F(SimBoardTest, LockedBoardAnswers04AndIgnoresFastWrites) {
  Start();
  EXPECT_EQ(Raw({0x18, 0x00, 0x24, 0x00, 0x10, 0x00}), Message(0x04));
  EXPECT_EQ(Raw({0x17, 0x04, 0x25, 0x00}), Message(0x04));
  EXPECT_EQ(Raw({0x1B, 0x00, 0x24, 0x00, 0x12}), Report64({})) << "fast writes never answer";
  EXPECT_EQ(Board->ReadMemory(0x2400, 1), std::vector<uint8_t>{0xFF});
  EXPECT_EQ(Board->State(), TBoardState::ResidentLoader);
}

TEST_F(SimBoardTest, OversizePacketAnswers08) {
  Start();
  EXPECT_EQ(Raw({0x19}, 63), Message(0x08));
  EXPECT_EQ(Raw({0x19}, 62), Message(0x04)) << "62 bytes fit; the board is locked";
}

TEST_F(SimBoardTest, ResidentLoaderKnowsThreeCommandsAndWritesRamOnly) {
  Start();
  Unlock();
  for (uint8_t command : {0x10, 0x12, 0x15, 0x16, 0x18, 0x19, 0x1A})
    EXPECT_EQ(Raw({command, 0x00, 0x44, 0x00, 0x01, 0x00}), Message(0x07)) << int(command);
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x4400, {0x00}));
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x43FF, {0x11, 0x22}));  // runs past RAM: dropped
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x2400, {0x00, 0x7E}));
  EXPECT_EQ(Board->ReadMemory(0x4400, 1), std::vector<uint8_t>{0xFF});
  EXPECT_EQ(Board->ReadMemory(0x43FF, 1), std::vector<uint8_t>{0xFF});
  EXPECT_EQ(Board->ReadMemory(0x2400, 2), (std::vector<uint8_t>{0x00, 0x7E}));
}

TEST_F(SimBoardTest, LoadPCAtTheImageEntryBringsTheRamLoaderBackUnlocked) {
  Start();
  EnterRamLoader();
  EXPECT_FALSE(Bench.Bus.IsPlugged(Board.get()));
  ASSERT_TRUE(Bench.Reattach(kReturnLimit));
  EXPECT_NE(Bench.Bus.DeviceID(Board.get()), FirstID);
  EXPECT_EQ(Board->State(), TBoardState::RamLoader);
  EXPECT_TRUE(Board->Unlocked());
  EXPECT_EQ(Raw({0x19}), Report64({0x3F, 0x05, 0x3A, 0x00, 0x06, 0x00, 0x36}));
  EXPECT_EQ(Raw({0x1A}), Report64({0x3F, 0x03, 0x3A, 62, 0x00}));
  TBytes rx;
  EXPECT_TRUE(Bench.Bsl.cmd_ReadHex(0x2500, 4, rx));
  EXPECT_EQ(rx, Report64({0x3F, 0x05, 0x3A, 0x3C, 0x3C, 0x3C, 0x3C}));
}

TEST_F(SimBoardTest, LoadPCAnywhereElseHangsTheBoard) {
  Start();
  EnterRamLoader(0x2524);  // the client adds 4: the jump lands just past the data
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * kReturnDelayMs));
  Bench.Loop.Pump();
  EXPECT_FALSE(Bench.Bus.IsPlugged(Board.get()));
  EXPECT_EQ(Board->State(), TBoardState::Away);
}

// A loader whose data begin below its start line: the entry is the start
// line's address + 4 all the same.
TEST_F(SimBoardTest, LoaderEntryMayLieAnywhereInItsData) {
  Start();
  EnterRamLoader(0x2523);  // entry 0x2527, the last of the 40 bytes written from 0x2500
  ASSERT_TRUE(Bench.Reattach(kReturnLimit));
  EXPECT_EQ(Board->State(), TBoardState::RamLoader);
}

TEST_F(SimBoardTest, EntryIsForgottenWhenTheBoardLeaves) {
  Start();
  EnterRamLoader();
  ASSERT_TRUE(Bench.Reattach(kReturnLimit));
  Bench.Bsl.cmd_LoadPC(0x2500);  // the same entry, from the RAM loader
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * kReturnDelayMs));
  Bench.Loop.Pump();
  EXPECT_FALSE(Bench.Bus.IsPlugged(Board.get()));
  EXPECT_EQ(Board->State(), TBoardState::Away);
}

TEST_F(SimBoardTest, LoseWriteDropsTheNthFastWriteOfTheRamLoader) {
  Start({"lose-write=2"});
  EnterRamLoader();  // its fast write to the resident loader is not counted
  ASSERT_TRUE(Bench.Reattach(kReturnLimit));
  for (int address : {0x4400, 0x4410, 0x4420}) EXPECT_TRUE(Bench.Bsl.cmd_WriteHexFast(address, {0x12}));
  EXPECT_EQ(Board->ReadMemory(0x4400, 1), std::vector<uint8_t>{0x12});
  EXPECT_EQ(Board->ReadMemory(0x4410, 1), std::vector<uint8_t>{0xFF}) << "lost";
  EXPECT_EQ(Board->ReadMemory(0x4420, 1), std::vector<uint8_t>{0x12});
  EXPECT_EQ(Raw({0x1B, 0x30, 0x44, 0x00, 0x12}), Report64({})) << "no answer, as always";
}

TEST_F(SimBoardTest, UnknownCommandSwitchAppliesToTheRamLoader) {
  Start({"unknown-command=16", "unknown-command=1a"});
  EnterRamLoader();
  ASSERT_TRUE(Bench.Reattach(kReturnLimit));
  EXPECT_EQ(Raw({0x16, 0x00, 0x25, 0x00, 0x04, 0x00}), Message(0x07));
  EXPECT_EQ(Raw({0x1A}), Message(0x07));
  EXPECT_EQ(Raw({0x18, 0x00, 0x25, 0x00, 0x01, 0x00}), Report64({0x3F, 0x02, 0x3A, 0x3C}));
}

// The board's ID is its chip's die record, read as the update reads it:
// only the RAM loader answers TX Data Block, and a loader built without it
// leaves the ID empty.
TEST_F(SimBoardTest, BoardIdIsTheDieRecordThatOnlyTheRamLoaderReads) {
  Start({"die=1A2B3C4D-0012-0034"});
  Unlock();
  EXPECT_EQ(ReadBoardId(Bench.Bsl), "") << "the resident loader refuses TX Data Block";
  ASSERT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x2500, TBytes(40, 0x3C)));
  Bench.Bsl.cmd_LoadPC(0x2500);
  ASSERT_TRUE(Bench.Reattach(kReturnLimit));
  EXPECT_EQ(ReadBoardId(Bench.Bsl), "1A2B3C4D-0012-0034");
}

TEST_F(SimBoardTest, ALoaderWithoutTxDataBlockLeavesTheIdEmpty) {
  Start({"unknown-command=18"});
  EnterRamLoader();
  ASSERT_TRUE(Bench.Reattach(kReturnLimit));
  EXPECT_EQ(ReadBoardId(Bench.Bsl), "");
  EXPECT_EQ(Raw({0x19}).at(2), 0x3A) << "the loader still answers";
}

// With the flash's programming time, a report that writes flash is taken
// only when its words are programmed: 58 bytes are 29 words.
TEST_F(SimBoardTest, FlashTimeHoldsAWriteForItsWords) {
  Start({"flash-time=1000"});
  EnterRamLoader();
  ASSERT_TRUE(Bench.Reattach(kReturnLimit));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x4400, TBytes(58, 0x00)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 29ms);
  EXPECT_EQ(Board->ReadMemory(0x4439, 1), std::vector<uint8_t>{0x00});
}

TEST_F(SimBoardTest, NoReturnSwitchKeepsTheBoardAway) {
  Start({"no-return"});
  EnterRamLoader();
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * kReturnDelayMs));
  EXPECT_FALSE(Bench.Bus.IsPlugged(Board.get()));
}

TEST_F(SimBoardTest, RamLoaderFlashSemanticsAndCommands) {
  Start();
  EnterRamLoader();
  ASSERT_TRUE(Bench.Reattach(kReturnLimit));
  TBytes rx;
  ASSERT_TRUE(Bench.Bsl.cmd_WriteHex(0x4400, {0xF0, 0xFF}, rx));
  EXPECT_EQ(rx, Message(0x00));
  ASSERT_TRUE(Bench.Bsl.cmd_WriteHex(0x4400, {0x0F, 0x0F}, rx));
  EXPECT_EQ(rx, Message(0x01)) << "bits cannot be set again";
  EXPECT_EQ(Board->ReadMemory(0x4400, 2), (std::vector<uint8_t>{0x00, 0x0F}));
  EXPECT_EQ(Raw({0x12, 0x00, 0x44, 0x00}), Message(0x00));
  EXPECT_EQ(Board->ReadMemory(0x4400, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
  // Information segment A: locked until toggled.
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHex(0x1980, {0x00}, rx));
  EXPECT_EQ(rx, Message(0x02));
  EXPECT_EQ(Raw({0x13}), Message(0x00));
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHex(0x1980, {0x00}, rx));
  EXPECT_EQ(rx, Message(0x00));
  // CRC of four 0x3C bytes of the loader image.
  const auto crc = Raw({0x16, 0x00, 0x25, 0x00, 0x04, 0x00});
  EXPECT_EQ(crc[2], 0x3A);
  const uint16_t expected = [] {
    sim::TMsp430Memory memory;
    memory.Preload(0x2400, {0x3C, 0x3C, 0x3C, 0x3C});
    return memory.Crc(0x2400, 4);
  }();
  EXPECT_EQ(crc[3] | (crc[4] << 8), expected);
  EXPECT_EQ(Raw({0x15}), Message(0x00));
  EXPECT_EQ(Raw({0x42}), Message(0x07));
}

TEST_F(SimBoardTest, RefusePasswordSwitch) {
  Start({"refuse-password"});
  EXPECT_EQ(Password(0xFF), Message(0x05));
  EXPECT_EQ(Password(0xFF), Message(0x05));
  EXPECT_FALSE(Board->Unlocked());
}

TEST_F(SimBoardTest, DropAfterReportsLeavesTheBus) {
  Start({"drop-after=2"});
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x2400, {1}));
  EXPECT_TRUE(Bench.Bsl.cmd_WriteHexFast(0x2400, {1}));
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(Bench.Bus.IsPlugged(Board.get()));
  EXPECT_FALSE(Bench.Bsl.cmd_WriteHexFast(0x2400, {1}));
}

TEST_F(SimBoardTest, ShortWriteSwitch) {
  Start({"short-write=20"});
  EXPECT_FALSE(Bench.Bsl.cmd_TxBslVersion());
  EXPECT_EQ(Bench.Texts(13), std::vector<std::string>{"tx-err - data written: 20"});
}

// Plugged in by the environment, the bus holds the only reference: the
// board must still survive its trip and find its way back.
TEST(SimBoardOwnership, BoardOwnedByTheBusAloneComesBack) {
  TBench bench;
  std::weak_ptr<TSimBoard> watch;
  {
    auto board = sim::MakeSimBoard({"return-delay=20"});
    watch = board;
    bench.Bus.Plug(board);
  }
  ASSERT_TRUE(bench.Attach());
  TBsl_PasswordData password;
  password.fill(0xFF);
  bench.Bsl.cmd_SendPassword(password);  // wrong: erases
  ASSERT_TRUE(bench.Bsl.cmd_SendPassword(password));
  ASSERT_TRUE(bench.Bsl.cmd_WriteHexFast(0x2400, TBytes(16, 0x3C)));
  bench.Bsl.cmd_LoadPC(0x2400);
  ASSERT_TRUE(bench.Reattach(kReturnLimit));
  ASSERT_FALSE(watch.expired());
  EXPECT_EQ(watch.lock()->State(), TBoardState::RamLoader);
}

TEST(SimBoardOptions, EnvironmentBuildsTheLoaderBoard) {
  auto bus = sim::CreateBusFromList("board:no-return:return-delay=20", sim::MakeSimBoard);
  ASSERT_EQ(bus->Devices().size(), 1u);
  EXPECT_NE(std::dynamic_pointer_cast<TSimBoard>(bus->Devices()[0]), nullptr);
  EXPECT_THROW(sim::CreateBusFromList("board:warp", sim::MakeSimBoard), std::invalid_argument);
  // A port named later in the list is not given to a board before it.
  bus = sim::CreateBusFromList("board,board:port=1-1", sim::MakeSimBoard);
  ASSERT_EQ(bus->Devices().size(), 2u);
  EXPECT_EQ(bus->Devices()[0]->Port, "1-2");
  EXPECT_EQ(bus->Devices()[1]->Port, "1-1");
  try {
    sim::CreateBusFromList("board:port=1-1.3,hub,board:port=1-1.3", sim::MakeSimBoard);
    ADD_FAILURE() << "two boards on one port";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), "KESTROVA_SIM: two devices on port 1-1.3");
  }
}

// Every board carries its own die record in its descriptor table.
TEST(SimBoardOptions, BoardsHaveDieRecordsOfTheirOwn) {
  const auto id = [](const std::shared_ptr<TSimBoard>& ABoard) {
    const std::optional<TDieRecord> die = FindDieRecord([&](uint32_t AAddress, uint32_t ACount, std::vector<uint8_t>& AOut) {
      AOut = ABoard->ReadMemory(AAddress, ACount);
      return true;
    });
    return die ? BoardIdText(*die) : "(none)";
  };
  const std::string first = id(sim::MakeSimBoard({})), second = id(sim::MakeSimBoard({}));
  EXPECT_NE(first, "(none)");
  EXPECT_NE(first, second);
  EXPECT_EQ(id(sim::MakeSimBoard({"die=0000ABCD-FFFE-0001"})), "0000ABCD-FFFE-0001");
}

// KESTROVA_SIM_DUMP: one board keeps the file name; several write a file
// each, the port added before the extension.
TEST(SimSession, EveryBoardIsDumpedToAFileOfItsPort) {
  struct TName {
    const char* File;
    const char* Port;
    const char* Expected;
  };
  for (const TName& name : {TName{"dump.txt", "1-1.3", "dump-1-1.3.txt"}, TName{"dump", "1-2", "dump-1-2"},
                            TName{"out/board.v2.txt", "1-1", "out/board.v2-1-1.txt"}})
    EXPECT_EQ(TSimSession::DumpFileFor(name.File, name.Port), name.Expected);
  const std::filesystem::path folder = std::filesystem::path(::testing::TempDir()) / "sim-dumps";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const auto read = [](const std::filesystem::path& APath) {
    std::ifstream in(APath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  ::setenv("KESTROVA_SIM_DUMP", (folder / "dump.txt").c_str(), 1);
  TSimSession::FromList("board:die=00000001-0001-0001:return-delay=20")->WriteDump();
  EXPECT_NE(read(folder / "dump.txt").find("@1A00\n06 06"), std::string::npos) << "one board: the name as given";
  TSimSession::FromList("hub,board:die=00000001-0001-0001,board:die=00000002-0002-0002")->WriteDump();
  ::unsetenv("KESTROVA_SIM_DUMP");
  const std::string first = read(folder / "dump-1-1.1.txt"), second = read(folder / "dump-1-1.2.txt");
  EXPECT_NE(first.find("08 0A 01 00 00 00 01 00"), std::string::npos) << first;
  EXPECT_NE(second.find("08 0A 02 00 00 00 02 00"), std::string::npos) << second;
  std::filesystem::remove_all(folder);
}

// The control's new board at a port of a hub sits behind that hub: behind a
// single-TT hub with six boards it is refused for bandwidth, and fits once
// one of the six has been unplugged. A board that followed another into its
// port is dumped to a file numbered after the port.
TEST(SimSession, ControlPlugsANewBoardBehindTheHubOfItsPort) {
  std::string list = "hub:single-tt";
  for (int i = 0; i < 6; ++i) list += ",board:return-delay=20";
  auto session = TSimSession::FromList(list);
  TSimSessionControl control(*session);
  std::vector<std::string> said;
  session->Bus().SetSystemLog([&said](const std::string& ALine) { said.push_back(ALine); });
  const auto ports = [&session] {
    std::string text;
    for (const auto& device : session->Bus().Devices()) text += device->Port + " ";
    return text;
  };
  EXPECT_EQ(control.Apply("plug board:port=1-1.7"), "");
  EXPECT_EQ(ports(), "1-1.1 1-1.2 1-1.3 1-1.4 1-1.5 1-1.6 ");
  EXPECT_EQ(said, (std::vector<std::string>{"usb 1-1.7: Not enough bandwidth for new device state.",
                                            "usb 1-1.7: can't set config #1, error -28"}));
  EXPECT_EQ(control.Apply("plug board:port=1-1"), "port 1-1 holds a hub");
  for (const char* line : {"unplug 1-1.7", "unplug 1-1.1", "plug 1-1.7"}) EXPECT_EQ(control.Apply(line), "") << line;
  EXPECT_EQ(ports(), "1-1.2 1-1.3 1-1.4 1-1.5 1-1.6 1-1.7 ");
  EXPECT_EQ(control.Apply("plug board:port=1-1.1"), "");  // the hub is full again
  EXPECT_EQ(ports(), "1-1.2 1-1.3 1-1.4 1-1.5 1-1.6 1-1.7 ");
  EXPECT_EQ(session->Boards().size(), 8u);

  const std::filesystem::path folder = std::filesystem::path(::testing::TempDir()) / "sim-control-dumps";
  std::filesystem::remove_all(folder);
  ::setenv("KESTROVA_SIM_DUMP", (folder / "dump.txt").c_str(), 1);
  std::filesystem::create_directories(folder);
  session->WriteDump();
  ::unsetenv("KESTROVA_SIM_DUMP");
  for (const char* file : {"dump-1-1.1.txt", "dump-1-1.1-2.txt", "dump-1-1.7.txt"})
    EXPECT_TRUE(std::filesystem::exists(folder / file)) << file;
  std::filesystem::remove_all(folder);
}

// With a dump, a board unplugged through the control is written at once
// and leaves the session; plugged back in, it is the same chip with the same
// flash. A board alone in its session keeps the dump's own name at the end.
TEST(SimSession, AnUnpluggedBoardIsDumpedAtOnceAndComesBackFromItsDump) {
  const std::filesystem::path folder = std::filesystem::path(::testing::TempDir()) / "sim-unplug-dumps";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  ::setenv("KESTROVA_SIM_DUMP", (folder / "dump.txt").c_str(), 1);
  for (const char* list : {"board", "board,board"}) {
    SCOPED_TRACE(list);
    auto session = TSimSession::FromList(list);
    TSimSessionControl control(*session);
    const size_t boards = session->Boards().size();
    const auto board = session->Boards().front();
    board->Preload(0x4400, {0x31, 0x40, 0x00});
    const std::vector<uint8_t> die = board->ReadMemory(0x1A0A, 8);
    EXPECT_EQ(control.Apply("unplug 1-1"), "");
    EXPECT_TRUE(std::filesystem::exists(folder / "dump-1-1.txt"));
    EXPECT_EQ(session->Boards().size(), boards - 1) << "its memory is in the dump alone";
    EXPECT_EQ(control.Apply("unplug 1-1"), "the board on port 1-1 is unplugged already");
    EXPECT_EQ(control.Apply("plug 1-1"), "");
    const auto back = session->Boards().front();
    EXPECT_NE(back, board);
    EXPECT_EQ(back->ReadMemory(0x4400, 3), (std::vector<uint8_t>{0x31, 0x40, 0x00}));
    EXPECT_EQ(back->ReadMemory(0x1A0A, 8), die);
    EXPECT_EQ(control.Apply("plug 1-1"), "the board on port 1-1 is plugged in already");
    EXPECT_EQ(control.Apply("unplug 1-1"), "");
    session->WriteDump();
    EXPECT_EQ(std::filesystem::exists(folder / "dump.txt"), boards == 1);
    EXPECT_EQ(std::filesystem::exists(folder / "dump-1-1.txt"), boards == 2);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  ::unsetenv("KESTROVA_SIM_DUMP");
  std::filesystem::remove_all(folder);
}

TEST(SimBoardOptions, UnknownOrMalformedOptionsAreRefused) {
  const auto message = [](const std::vector<std::string>& AOptions) -> std::string {
    try {
      sim::MakeSimBoard(AOptions);
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "(accepted)";
  };
  EXPECT_EQ(message({"no-return", "return-delay=10", "answer-delay=5", "no-answer", "drop-after=3",
                     "short-write=1", "refuse-password", "lose-write=4", "unknown-command=16", "port=1-1.3",
                     "die=1a2b3c4d-0012-0034", "flash-time=75"}),
            "(accepted)");
  EXPECT_EQ(message({"die=1A2B3C4D-12-34"}),
            "simulated board option \"die=1A2B3C4D-12-34\": \"1A2B3C4D-12-34\" is not lot/wafer, die X and die Y in "
            "hexadecimal (LLLLLLLL-XXXX-YYYY)");
  EXPECT_EQ(message({"die=1A2B3C4G-0012-0034"}).find("is not lot/wafer") != std::string::npos, true);
  EXPECT_EQ(message({"port="}).rfind("unknown simulated board option", 0), 0u);
  EXPECT_EQ(message({"flash-time=fast"}).find("is not a whole number") != std::string::npos, true);
  EXPECT_EQ(message({"unknown-command=1G"}),
            "simulated board option \"unknown-command=1G\": \"1G\" is not a command byte in hexadecimal");
  EXPECT_EQ(message({"unknown-command=100"}).find("is not a command byte") != std::string::npos, true);
  EXPECT_EQ(message({"lose-write=x"}).find("is not a whole number") != std::string::npos, true);
  EXPECT_EQ(message({"firmware="}).rfind("unknown simulated board option", 0), 0u);
  EXPECT_EQ(message({"firmware=/no/such/image.txt"}).rfind(
                "simulated board firmware \"/no/such/image.txt\": Cannot read file", 0),
            0u);
  EXPECT_EQ(message({"fly"}).rfind("unknown simulated board option \"fly\"", 0), 0u);
  EXPECT_EQ(message({"no-return=1"}).rfind("unknown simulated board option", 0), 0u);
  EXPECT_EQ(message({"return-delay=soon"}),
            "simulated board option \"return-delay=soon\": \"soon\" is not a whole number");
  EXPECT_EQ(message({"return-delay=-5"}).find("is not a whole number") != std::string::npos, true);
}

// The flash starts with a given image instead of the built-in old
// firmware; the path may hold colons.
TEST(SimBoardFirmware, FlashStartsWithTheImage) {
  const std::string path = ::testing::TempDir() + "/old:fw.txt";
  std::string vectors;
  for (int i = 0; i < 32; ++i) vectors += (i ? " " : "") + std::string("5A");
  std::ofstream(path, std::ios::binary) << "@4400\r\n01 02\r\nSET\r\n@FFE0\r\n" << vectors << "\r\nq\r\n@4500\r\n77\r\n";
  auto bus = sim::CreateBusFromList("board:return-delay=20:firmware=" + path, sim::MakeSimBoard);
  ASSERT_EQ(bus->Devices().size(), 1u);
  auto board = std::dynamic_pointer_cast<TSimBoard>(bus->Devices()[0]);
  ASSERT_NE(board, nullptr);
  EXPECT_EQ(board->ReadMemory(0x4400, 3), (std::vector<uint8_t>{0x01, 0x02, 0xFF}));
  EXPECT_EQ(board->ReadMemory(0xFFE0, 32), std::vector<uint8_t>(32, 0x5A));
  EXPECT_EQ(board->ReadMemory(0x4500, 1), std::vector<uint8_t>{0xFF}) << "nothing after the end line";
  EXPECT_EQ(board->ReadMemory(0x1800, 8), std::vector<uint8_t>(8, 0xFF)) << "no built-in firmware";
  std::filesystem::remove(path);
}

TEST(SimBoardFirmware, MalformedImageIsRefusedWithItsLine) {
  const std::string path = ::testing::TempDir() + "/bad-fw.txt";
  std::ofstream(path, std::ios::binary) << "@4400\n31400044\nq\n";
  try {
    sim::MakeSimBoard({"firmware=" + path});
    ADD_FAILURE() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), "simulated board firmware \"" + path +
                                         "\": line 2: '31400044' is not a valid data line");
  }
  std::filesystem::remove(path);
}

// A timer destroyed while its thread waits for a task far ahead: the wait
// must not go on reading the dropped task's due time (a heap-use-after-free
// under AddressSanitizer).
TEST(SimTimer, DestroyedWhileWaitingForALaterTask) {
  std::atomic<bool> ran{false};
  for (int round = 0; round < 20; ++round) {
    auto timer = std::make_unique<sim::TSimTimer>();
    timer->Schedule(60000, [&ran] { ran = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the thread now waits
    timer.reset();
  }
  EXPECT_FALSE(ran) << "a task not yet due ran at destruction";
}

}  // namespace

TEST(SimBoardOptions, FrameTimedBoardAsksTheBusForFrames) {
  EXPECT_TRUE(sim::MakeSimBoard({"frame-timed"})->FrameTimed);
  EXPECT_FALSE(sim::MakeSimBoard({})->FrameTimed);
  EXPECT_THROW(sim::MakeSimBoard({"frame-timed=2"}), std::invalid_argument);
}
