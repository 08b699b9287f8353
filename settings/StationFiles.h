// Where the station's files are: everything the configurator reads and
// writes lies beside its executable (the two firmware images, the settings
// file, the folder of log files, the bug report and the lock of the copy
// that runs). kestrova-flash takes the image names, in the current folder.
#pragma once

#include <filesystem>

namespace station {

inline constexpr char kLoaderImageName[] = "kestrova.1.ldr.txt";
inline constexpr char kFirmwareImageName[] = "kestrova.2.fw.txt";

// Full path of the executable; its folder follows the override when set.
std::filesystem::path ApplicationFile();
// Folder of the executable; the override when set.
std::filesystem::path Folder();
// Tests point the application at a scratch folder; empty restores the default.
void SetFolderOverride(const std::filesystem::path& AFolder);

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

// The running executable as the system names it (platform backend); empty
// when the system cannot say.
std::filesystem::path RunningExecutable();

}  // namespace station
