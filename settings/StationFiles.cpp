#include "StationFiles.h"

namespace station {

namespace {
constexpr char kSettingsExtension[] = ".xml";
constexpr char kLogsFolderName[] = "logs";
constexpr char kBugReportName[] = "bugreport.txt";
constexpr char kLockFileName[] = "KestrovaSetup.lock";

std::filesystem::path& Override() {
  static std::filesystem::path folder;
  return folder;
}
}  // namespace

std::filesystem::path ApplicationFile() {
  const std::filesystem::path executable = RunningExecutable();
  if (Override().empty()) return executable;
  return Override() / executable.filename();
}

std::filesystem::path Folder() {
  if (!Override().empty()) return Override();
  return RunningExecutable().parent_path();
}

void SetFolderOverride(const std::filesystem::path& AFolder) { Override() = AFolder; }

std::filesystem::path LoaderImage() { return Folder() / kLoaderImageName; }
std::filesystem::path FirmwareImage() { return Folder() / kFirmwareImageName; }
std::filesystem::path SettingsFile() { return SettingsFileFor(ApplicationFile()); }
std::filesystem::path LogsFolder() { return Folder() / kLogsFolderName; }
std::filesystem::path BugReport() { return Folder() / kBugReportName; }
std::filesystem::path LockFile() { return Folder() / kLockFileName; }

std::filesystem::path SettingsFileFor(const std::filesystem::path& AApplicationFile) {
  return std::filesystem::path(AApplicationFile).replace_extension(kSettingsExtension);
}

}  // namespace station
