// A folder of its own for one test, removed afterwards: ctest runs the
// cases as parallel processes.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace stationtest {

class TScratchFolder {
 public:
  explicit TScratchFolder(const std::string& AName)
      : FPath(std::filesystem::temp_directory_path() /
              ("kestrova_" + AName + "_" + std::to_string(std::random_device{}()))) {
    std::filesystem::create_directories(FPath);
  }
  ~TScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

}  // namespace stationtest
