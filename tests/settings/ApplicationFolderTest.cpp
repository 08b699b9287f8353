// The application's folder is where its file is, also in a folder whose
// name the system's narrow code page cannot hold: a copy of this program
// in "Jiří Šumperk" finds itself there.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

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

namespace {

// An installed build's station folder by the XDG rule; a relative or empty
// XDG_DATA_HOME is ignored, and without HOME there is no folder at all.
TEST(StationFolder, UserDataFolderFollowsTheXdgRule) {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  const std::string data = PathToUtf8(base / "data");
  const std::string home = PathToUtf8(base / "home");
  const std::filesystem::path byHome = base / "home" / ".local" / "share" / "kestrova";
  struct TRow {
    std::optional<std::string> Xdg, Home;
    std::filesystem::path Expected;
  };
  const TRow rows[] = {
      {data, home, base / "data" / "kestrova"},
      {std::nullopt, home, byHome},
      {"", home, byHome},
      {"relative/data", home, byHome},
      {data, std::nullopt, base / "data" / "kestrova"},
      {std::nullopt, std::nullopt, {}},
      {"", "", {}},
  };
  for (const TRow& row : rows)
    EXPECT_EQ(station::UserDataFolder(row.Xdg, row.Home), row.Expected)
        << row.Xdg.value_or("(unset)") << " / " << row.Home.value_or("(unset)");
}

// The first start makes the folder, as deep as it goes; a file in the way
// is named in the error.
TEST(StationFolder, CreateFolderMakesTheFolderOrSaysWhyNot) {
  stationtest::TScratchFolder scratch("create");
  const std::filesystem::path folder = scratch.Path() / "share" / "kestrova";
  station::SetFolderOverride(folder);
  station::CreateFolder();
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  station::CreateFolder();  // an existing one is kept

  std::ofstream(scratch.Path() / "file") << "x";
  station::SetFolderOverride(scratch.Path() / "file" / "kestrova");
  try {
    station::CreateFolder();
    ADD_FAILURE() << "no error for a file in the way";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("Cannot create folder \"" + PathToUtf8(scratch.Path() / "file" / "kestrova") + "\": "),
              std::string::npos)
        << error.what();
  }
  station::SetFolderOverride({});
}

}  // namespace
