// --settings: the window's settings file, read by the window's own service,
// so that the command line takes from it exactly what the window shows.
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "CliSettings.h"
#include "SettingsFile.h"
#include "Utf8.h"

namespace {

ECliUsage FileError(const std::string& AFile, const std::string& AReason) {
  return ECliUsage("settings file \"" + AFile + "\": " + AReason);
}

}  // namespace

void ReadSettingsFile(const std::string& AFile, std::array<std::string, 3>& ATexts, int& ALine) {
  const std::filesystem::path path = Utf8ToPath(AFile);
  std::error_code error;
  const auto status = std::filesystem::status(path, error);  // follows links
  if (error || !std::filesystem::exists(status)) throw FileError(AFile, "does not exist");
  if (std::filesystem::is_directory(status))
    throw FileError(AFile, "cannot be read: " + std::make_error_code(std::errc::is_a_directory).message());
  TApnTexts texts{ATexts[0], ATexts[1], ATexts[2]};
  bool found = false;
  try {
    found = LoadConfiguration(path, texts, &ALine);
  } catch (const std::runtime_error& e) {
    throw ECliUsage(std::string("settings file: ") + e.what());
  }
  // A file named on purpose that holds no settings is a mistake (the
  // window's first run, without a file, is not).
  if (!found) throw FileError(AFile, "has no ApnSettings element");
  ATexts = {texts.Apn, texts.Login, texts.Password};
}
