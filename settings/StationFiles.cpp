#include "StationFiles.h"

#include <stdexcept>
#include <system_error>

#include "Utf8.h"
#include "Utf8Environment.h"

namespace station {

namespace {
constexpr char kSettingsExtension[] = ".xml";
constexpr char kLogsFolderName[] = "logs";
constexpr char kBugReportName[] = "bugreport.txt";
constexpr char kLockFileName[] = "KestrovaSetup.lock";
constexpr char kUserDataName[] = "kestrova";
constexpr char kNameAnother[] =
    "The settings and the log cannot be kept there; name a folder you may write with KESTROVA_STATION.";

std::filesystem::path& Override() {
  static std::filesystem::path folder;
  return folder;
}

bool Given(const std::optional<std::string>& AValue) { return AValue && !AValue->empty(); }
}  // namespace

std::filesystem::path Folder() {
  if (!Override().empty()) return Override();
  const std::optional<std::string> named = Utf8Environment(kFolderVariable);
  if (Given(named)) return Utf8ToPath(*named);
  return DefaultFolder();
}

void SetFolderOverride(const std::filesystem::path& AFolder) { Override() = AFolder; }

void CreateFolder() {
  const std::filesystem::path folder = Folder();
  if (folder.empty())
    throw std::runtime_error(std::string("Cannot find the station's folder: neither XDG_DATA_HOME nor HOME is set. ") +
                             kNameAnother);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error)
    throw std::runtime_error("Cannot create folder \"" + PathToUtf8(folder) + "\": " + error.message() + ". " +
                             kNameAnother);
}

std::filesystem::path LoaderImage() { return Folder() / kLoaderImageName; }
std::filesystem::path FirmwareImage() { return Folder() / kFirmwareImageName; }
std::filesystem::path SettingsFile() { return Folder() / SettingsFileFor(RunningExecutable().filename()); }
std::filesystem::path LogsFolder() { return Folder() / kLogsFolderName; }
std::filesystem::path BugReport() { return Folder() / kBugReportName; }
std::filesystem::path LockFile() { return Folder() / kLockFileName; }

std::filesystem::path SettingsFileFor(const std::filesystem::path& AApplicationFile) {
  return std::filesystem::path(AApplicationFile).replace_extension(kSettingsExtension);
}

std::filesystem::path ExecutableFolder() { return RunningExecutable().parent_path(); }

std::filesystem::path UserDataFolder(const std::optional<std::string>& AXdgDataHome,
                                     const std::optional<std::string>& AHome) {
  // A relative XDG_DATA_HOME is invalid and ignored.
  if (Given(AXdgDataHome) && Utf8ToPath(*AXdgDataHome).is_absolute())
    return Utf8ToPath(*AXdgDataHome) / kUserDataName;
  if (Given(AHome)) return Utf8ToPath(*AHome) / ".local" / "share" / kUserDataName;
  return {};
}

}  // namespace station
