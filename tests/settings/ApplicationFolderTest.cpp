// The application's folder is where its file is, also in a folder whose
// name the system's narrow code page cannot hold: a copy of this program
// in "Jiří Šumperk" finds itself there.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ChildProcess.h"
#include "ScratchFolder.h"
#include "StationFiles.h"
#include "StationTests.h"
#include "Utf8.h"

namespace {

TEST(ApplicationFolder, ACopyInAFolderWithCzechLettersFindsItselfThere) {
  stationtest::TScratchFolder scratch("folder");
  const std::filesystem::path folder = scratch.Path() / Utf8ToPath("Ji\u0159\u00ED \u0160umperk");
  const std::filesystem::path program = station::RunningExecutable();
  ASSERT_FALSE(program.empty());
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(program, folder / program.filename());

  const stationtest::TChildEnd end = stationtest::RunChild(folder / program.filename(), {"--write-own-folder"});
  ASSERT_TRUE(end.Started);
  EXPECT_EQ(end.ExitCode, 0);
  std::ifstream in(folder / stationtest::kFolderFile, std::ios::binary);
  const std::string found((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(found.empty()) << "the copy wrote nothing where it is";
  EXPECT_TRUE(std::filesystem::equivalent(Utf8ToPath(found), folder)) << found;
}

}  // namespace
