// Where the station's files are: the two firmware images, the settings
// file, the folder of log files, the bug report and the lock of the copy
// that runs. A portable build keeps them beside its executable; an
// installed one in the user's data folder (the build chooses, see
// StationPlace); KESTROVA_STATION names another folder for both.
// kestrova-flash takes the image names, in the current folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace station {

inline constexpr char kLoaderImageName[] = "kestrova.1.ldr.txt";
inline constexpr char kFirmwareImageName[] = "kestrova.2.fw.txt";
inline constexpr char kFolderVariable[] = "KESTROVA_STATION";

// The station's folder: the override when set, else KESTROVA_STATION when
// set and not empty, else the build's own place (DefaultFolder).
std::filesystem::path Folder();
// Tests point the application at a scratch folder; empty restores the default.
void SetFolderOverride(const std::filesystem::path& AFolder);
// Makes the station's folder when it is missing (an installed build's first
// start). Throws with the folder and the system's reason when it cannot.
void CreateFolder();

std::filesystem::path LoaderImage();
std::filesystem::path FirmwareImage();
std::filesystem::path SettingsFile();
std::filesystem::path LogsFolder();
std::filesystem::path BugReport();
std::filesystem::path LockFile();

// The settings file of an application file: its extension replaced by
// ".xml" ("KestrovaSetup.exe" -> "KestrovaSetup.xml"; a name without one
// gets ".xml").
std::filesystem::path SettingsFileFor(const std::filesystem::path& AApplicationFile);

// The station's folder of this build when nothing overrides it (backend
// chosen by the build: portable or installed).
std::filesystem::path DefaultFolder();
// The portable place: the folder of the running executable.
std::filesystem::path ExecutableFolder();
// The installed place: "kestrova" in the user's data folder, by the XDG
// rule: $XDG_DATA_HOME when it is an absolute path, else
// $HOME/.local/share. AXdgDataHome and AHome are the two variables' values;
// empty when neither gives a folder.
std::filesystem::path UserDataFolder(const std::optional<std::string>& AXdgDataHome,
                                     const std::optional<std::string>& AHome);

// The running executable as the system names it (platform backend); empty
// when the system cannot say.
std::filesystem::path RunningExecutable();

}  // namespace station
