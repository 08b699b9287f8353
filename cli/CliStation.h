// kestrova-flash --station FILE: what the station file fixes, in the
// command line's terms, and the checks made before any board is touched.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "SettingsBlock.h"
#include "TiTxtImage.h"

struct TCliStation {
  std::string File;  // UTF-8
  std::string Name;
  std::string LoaderFile, FirmwareFile;      // UTF-8, absolute
  std::string LoaderSha256, FirmwareSha256;  // pinned
  int LoaderLine = 0, FirmwareLine = 0;
  std::array<std::string, 3> Texts;  // access point name, login, password
  int SettingsLine = 0;
  std::vector<std::string> Ports;  // empty: every board
  std::string RecordFile;
  bool SerialRequired = false;
  bool Fast = true;
};

// Reads the station file AFile. Throws ECliUsage naming the file, the line
// and what to change. Builds without the XML parser refuse every file.
TCliStation ReadStationFile(const std::string& AFile);

// The station's settings texts, each checked as the options' are.
update::TSettingsTexts StationSettings(const TCliStation& AStation);

// Throws ECliUsage when AImage (read from the station's file for it) is not
// the one the station file pins: the file and both checksums.
void CheckPinnedImage(const TCliStation& AStation, const TTiTxtImage& AImage, bool ALoader);
