// Images written by a tool we did not write (srecord's srec_cat) go through
// the whole update: erase, loader image into RAM, Load PC, the board coming
// back, application image into flash with the settings records. The board's
// memory must then hold every byte, and its dump must read back in srecord.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "BslTestBench.h"
#include "BslVerify.h"
#include "SimBoard.h"

using namespace bsltest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

struct TSegment {
  uint32_t Address;
  size_t Size;
  std::vector<uint8_t> Bytes;
};

// Settings records the application writes at the image's SET line.
constexpr uint32_t kRecordAddresses[] = {0xFE00, 0xFE29, 0xFE52};
constexpr size_t kRecordLength = 41;
constexpr uint32_t kLoaderAddress = 0x2500;

class SrecordRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("srec_cat --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "srec_cat missing";
    Dir = fs::path(::testing::TempDir()) / ("kestrova-srec-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    const unsigned seed = std::random_device{}();
    Random.seed(seed);
    RecordProperty("seed", std::to_string(seed));
    std::cout << "random seed " << seed << "\n";
  }
  void TearDown() override { fs::remove_all(Dir); }

  void Fill(TSegment& ASegment) {
    ASegment.Bytes.resize(ASegment.Size);
    for (auto& byte : ASegment.Bytes) byte = static_cast<uint8_t>(Random());
  }
  std::string WriteBinary(const TSegment& ASegment) {
    const fs::path path = Dir / ("seg" + std::to_string(ASegment.Address) + ".bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(ASegment.Bytes.data()), static_cast<long>(ASegment.Size));
    return path.string();
  }
  void Run(const std::string& ACommand) {
    ASSERT_EQ(std::system(ACommand.c_str()), 0) << ACommand;
  }
  // srec_cat's TI-TXT of the segments, with our marks added: AHead before
  // its first line, ATail just before its final "q".
  std::string MakeImage(const std::string& AName, const std::vector<TSegment>& ASegments,
                        const std::vector<std::string>& AHead, const std::vector<std::string>& ATail) {
    std::string command = "srec_cat";
    for (const auto& segment : ASegments) {
      char offset[16];
      std::snprintf(offset, sizeof offset, "0x%X", segment.Address);
      command += " " + WriteBinary(segment) + " -binary -offset " + offset;
    }
    const fs::path raw = Dir / (AName + ".raw.txt");
    Run(command + " -o " + raw.string() + " -ti-txt");
    std::ifstream in(raw);
    std::ostringstream out;
    for (const auto& line : AHead) out << line << "\r\n";
    std::string line;
    while (std::getline(in, line)) {
      if (TrimLine(line) == "q")
        for (const auto& mark : ATail) out << mark << "\r\n";
      out << line << "\r\n";
    }
    const fs::path image = Dir / (AName + ".txt");
    std::ofstream(image, std::ios::binary) << out.str();
    return image.string();
  }

  fs::path Dir;
  std::mt19937 Random;
};

TEST_F(SrecordRoundTrip, TwoStageUpdateLeavesExactlyTheImagesInFlash) {
  TSegment loader{kLoaderAddress, 600, {}};
  std::vector<TSegment> app = {{0x4400, 1500, {}}, {0x8000, 333, {}}, {0xFF80, 128, {}},
                               {0x10000, 700, {}}, {0x243F0, 16, {}}};
  Fill(loader);
  for (auto& segment : app) Fill(segment);
  char start[16];
  std::snprintf(start, sizeof start, "#%X", kLoaderAddress);
  const std::string loaderImage = MakeImage("loader", {loader}, {}, {start});
  const std::string appImage = MakeImage("app", app, {"?"}, {"SET"});
  // srecord's images pass the check that comes before the board is touched.
  EXPECT_EQ(ReadTiTxtImage(loaderImage, TTiTxtImageKind::Loader).DataSize(), loader.Size);
  const TTiTxtImage checkedApp = ReadTiTxtImage(appImage, TTiTxtImageKind::Application);
  EXPECT_EQ(checkedApp.DataSize(), 1500u + 333u + 128u + 700u + 16u);

  TBench bench;
  auto board = sim::MakeSimBoard({"return-delay=50"});
  board->PlugInto(bench.Bus);
  ASSERT_TRUE(bench.Attach());
  const auto info = board->ReadMemory(0x1800, 0x200);

  TBsl_PasswordData password;
  password.fill(0x00);
  EXPECT_FALSE(bench.Bsl.cmd_SendPassword(password)) << "the old firmware's password is not zeros";
  password.fill(0xFF);
  ASSERT_TRUE(bench.Bsl.cmd_SendPassword(password));
  ASSERT_TRUE(WriteImage(bench.Bsl, ReadTiTxtImage(loaderImage, TTiTxtImageKind::Loader), kWriteLineByLine, {}));
  ASSERT_TRUE(bench.Reattach(3s)) << "the RAM loader did not come back";

  std::vector<std::vector<uint8_t>> records;
  for (size_t i = 0; i < 3; ++i) records.emplace_back(kRecordLength, static_cast<uint8_t>('a' + i));
  bench.Bsl.SetOnSet([&records](TBsl* ABsl) {
    for (size_t i = 0; i < 3; ++i) ABsl->cmd_WriteHexFast(static_cast<int>(kRecordAddresses[i]), records[i]);
  });
  ASSERT_TRUE(WriteImage(bench.Bsl, ReadTiTxtImage(appImage, TTiTxtImageKind::Application), kWriteLineByLine, {}));

  EXPECT_EQ(board->ReadMemory(loader.Address, loader.Size), loader.Bytes);
  for (const auto& segment : app)
    EXPECT_EQ(board->ReadMemory(segment.Address, segment.Size), segment.Bytes) << std::hex << segment.Address;
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(board->ReadMemory(kRecordAddresses[i], kRecordLength), records[i]);
  EXPECT_EQ(board->ReadMemory(0x1800, 0x200), info) << "information memory survives the update";
  TVerifyPlan plan;
  plan.AddImage(checkedApp);
  for (size_t i = 0; i < 3; ++i) plan.Add(kRecordAddresses[i], records[i]);
  EXPECT_EQ(VerifyWritten(bench.Bsl, plan).Result, TVerifyResult::Ok);

  // The whole main flash, read back by srecord from the board's dump.
  std::vector<uint8_t> expected(0x20000, 0xFF);
  const auto place = [&expected](uint32_t AAddress, const std::vector<uint8_t>& ABytes) {
    std::copy(ABytes.begin(), ABytes.end(), expected.begin() + (AAddress - 0x4400));
  };
  for (const auto& segment : app) place(segment.Address, segment.Bytes);
  for (size_t i = 0; i < 3; ++i) place(kRecordAddresses[i], records[i]);
  const fs::path dump = Dir / "dump.txt";
  std::ofstream(dump, std::ios::binary) << board->DumpTiTxt();
  const fs::path flash = Dir / "flash.bin";
  Run("srec_cat " + dump.string() + " -ti-txt -fill 0xFF 0x4400 0x24400 -crop 0x4400 0x24400 -offset -0x4400 -o " +
      flash.string() + " -binary");
  std::ifstream in(flash, std::ios::binary);
  const std::vector<uint8_t> actual((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(actual == expected) << "main flash differs from the images";
}

}  // namespace
