// KESTROVA_STATION names the station's folder over the build's own place;
// the tests' override wins over both, and an empty variable counts as unset.
#include <gtest/gtest.h>

#include <cstdlib>

#include "StationFiles.h"

namespace {

TEST(StationFolder, OverrideThenVariableThenTheBuildsPlace) {
  struct TRow {
    const char* Override;
    const char* Variable;  // nullptr: unset
    std::filesystem::path Expected;
  };
  const TRow rows[] = {
      {"", nullptr, station::DefaultFolder()},
      {"", "", station::DefaultFolder()},
      {"", "/srv/bench 1", "/srv/bench 1"},
      {"/tmp/scratch", "/srv/bench 1", "/tmp/scratch"},
  };
  for (const TRow& row : rows) {
    if (row.Variable == nullptr)
      ::unsetenv(station::kFolderVariable);
    else
      ::setenv(station::kFolderVariable, row.Variable, 1);
    station::SetFolderOverride(row.Override);
    EXPECT_EQ(station::Folder(), row.Expected) << row.Override << " / " << (row.Variable ? row.Variable : "(unset)");
    EXPECT_EQ(station::LockFile().parent_path(), row.Expected);
    EXPECT_EQ(station::SettingsFile().parent_path(), row.Expected);
  }
  ::unsetenv(station::kFolderVariable);
  station::SetFolderOverride({});
}

}  // namespace
