// A production station as its file fixes it, and the checks made before
// any board is touched: the pinned images and the settings texts. The
// station window and kestrova-flash --station both go through them.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "SettingsBlock.h"
#include "TiTxtImage.h"

// A station that cannot run: the file, the line or the checksums, and
// what to change. Nothing was sent to any board.
class EStationRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TStation {
  std::string File;  // UTF-8
  std::string Name;
  std::string LoaderFile, FirmwareFile;      // UTF-8, absolute
  std::string LoaderSha256, FirmwareSha256;  // pinned
  int LoaderLine = 0, FirmwareLine = 0;
  std::array<std::string, 3> Texts;  // access point name, login, password
  int SettingsLine = 0;
  std::vector<std::string> Ports;   // empty: every board
  std::vector<std::string> Labels;  // one per port
  std::string RecordFile;
  bool SerialRequired = false;
  bool Fast = true;
};

// Reads the station file AFile. Throws EStationRefused naming the file, the
// line and what to change. Builds without the XML parser refuse every file.
TStation ReadStationFile(const std::string& AFile);

// The station's settings texts as the board takes them; throws
// EStationRefused naming the line and the text that does not fit.
update::TSettingsTexts StationSettings(const TStation& AStation);

// Throws EStationRefused when AImage (read from the station's file for it)
// is not the one the station file pins: the file and both checksums.
void CheckPinnedImage(const TStation& AStation, const TTiTxtImage& AImage, bool ALoader);
